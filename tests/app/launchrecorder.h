#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

namespace Quillory::Testing {

// Stands in for the desktop's default browser: records every URL the window hands over.
class LaunchRecorder final : public QObject
{
    Q_OBJECT

public:
    LaunchRecorder();
    ~LaunchRecorder() override;

    QList<QUrl> launched;
    std::function<void(const QUrl &)> onLaunch;

public Q_SLOTS:
    void open(const QUrl &url);
};

} // namespace Quillory::Testing
