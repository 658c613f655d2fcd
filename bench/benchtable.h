#pragma once

#include <QList>
#include <QString>

#include <functional>

class QTextStream;

namespace Quillory::Bench {

// The benchmark's report: one row per figure, printed as an aligned table.
class BenchTable
{
public:
    struct Row
    {
        QString name;
        double figure = 0;
        QString unit;
        QString note; // a ratio, the goal it is held to, or how it was measured
    };

    void addSection(const QString &title);
    void add(const QString &name, double figure, const QString &unit, const QString &note = {});
    const QList<Row> &rows() const { return m_rows; }
    void print(QTextStream &out) const;

    // Runs `body` `warmups` times unmeasured, then `runs` times, and gives the median wall time in
    // seconds.
    static double medianSeconds(int runs, const std::function<void()> &body, int warmups = 1);
    static double median(QList<double> values);

private:
    QList<Row> m_rows; // a row without a unit is a section title
};

} // namespace Quillory::Bench
