// quillory-window-probe: a child process for the benchmark's window section.
//   startup       builds the window as the program does, prints "shown" once it is on screen
//   rss quillory  the window with its home page loaded: prints the resident memory of the process tree
//   rss bare      a bare QWebEngineView loading the same page, the same way
// The home page comes through the proxy the benchmark sets in the environment.

#include "answer/trialsite.h"
#include "app/browserpage.h"
#include "app/form1.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Resident memory of this process and all its descendants (the engine's helper processes), in KiB.
qint64 treeResidentKiB(qint64 pid)
{
    qint64 total = 0;
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                total += line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task) + u"/children"_s);
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                total += treeResidentKiB(child.trimmed().toLongLong());
    }
    return total;
}

// The promotional link must not open a real browser while we measure.
class IgnoreLaunches final : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl &) {}
};

bool waitForLoad(QWebEnginePage *page)
{
    bool finished = false;
    QObject::connect(page, &QWebEnginePage::loadFinished, [&] { finished = true; });
    return QTest::qWaitFor([&] { return finished; }, 30000);
}

} // namespace

int main(int argc, char *argv[])
{
    Quillory::allowEngineAsRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    IgnoreLaunches ignore;
    QDesktopServices::setUrlHandler(u"http"_s, &ignore, "open");
    const QStringList args = app.arguments().mid(1);

    if (args == QStringList{u"startup"_s}) {
        Quillory::Form1 window;
        window.Form_Load();
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        std::puts("shown");
        std::fflush(stdout);
        return 0;
    }
    if (args.size() == 2 && args[0] == u"rss"_s) {
        std::unique_ptr<QWidget> window;
        QWebEnginePage *page = nullptr;
        if (args[1] == u"quillory"_s) {
            auto form = std::make_unique<Quillory::Form1>();
            page = form->page();
            form->Form_Load();
            form->show();
            window = std::move(form);
        } else {
            auto view = std::make_unique<QWebEngineView>();
            view->resize(932, 619);
            view->show();
            page = view->page();
            view->load(QUrl(Quillory::TrialSite::homePage));
            window = std::move(view);
        }
        if (!waitForLoad(page))
            return 1;
        QTest::qWait(1500); // let the engine settle
        std::printf("%lld\n", static_cast<long long>(treeResidentKiB(getpid())));
        return 0;
    }
    std::fputs("usage: quillory-window-probe startup | rss quillory|bare\n", stderr);
    return 2;
}

#include "windowprobe.moc"
