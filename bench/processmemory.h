#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace Quillory::Bench {

// Resident memory of a process and all its descendants (the engine's helper processes), in KiB, as
// Linux's /proc tells it: the benchmark programs measure on Linux only.
inline qint64 treeResidentKiB(qint64 pid)
{
    qint64 total = 0;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                total += line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task) + QStringLiteral("/children"));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                total += treeResidentKiB(child.trimmed().toLongLong());
    }
    return total;
}

} // namespace Quillory::Bench
