#include "benchtable.h"

#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

namespace Quillory::Bench {

void BenchTable::addSection(const QString &title)
{
    m_rows.append({title, 0, QString(), QString()});
}

void BenchTable::add(const QString &name, double figure, const QString &unit, const QString &note)
{
    m_rows.append({name, figure, unit, note});
}

void BenchTable::print(QTextStream &out) const
{
    qsizetype nameWidth = 0;
    for (const Row &row : m_rows) {
        if (!row.unit.isEmpty())
            nameWidth = std::max(nameWidth, row.name.size());
    }
    for (const Row &row : m_rows) {
        if (row.unit.isEmpty()) {
            out << Qt::endl << row.name << Qt::endl;
            continue;
        }
        const int decimals = row.figure >= 100 ? 0 : row.figure >= 10 ? 1 : row.figure >= 1 ? 2 : 3;
        out << "  " << row.name.leftJustified(nameWidth) << "  "
            << QString::number(row.figure, 'f', decimals).rightJustified(9) << ' '
            << row.unit.leftJustified(6);
        if (!row.note.isEmpty())
            out << "  " << row.note;
        out << Qt::endl;
    }
    out.flush();
}

double BenchTable::median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double BenchTable::medianSeconds(int runs, const std::function<void()> &body, int warmups)
{
    for (int i = 0; i < warmups; ++i)
        body();
    QList<double> seconds;
    seconds.reserve(runs);
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        body();
        seconds.append(double(timer.nsecsElapsed()) / 1e9);
    }
    return median(seconds);
}

} // namespace Quillory::Bench
