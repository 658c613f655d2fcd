// quillory-window-probe: a child process for the benchmark's window section.
//   startup       builds the window as the program does, prints "shown" once it is on screen
//   rss quillory  the window with its home page loaded: prints the resident memory of the process tree
//   rss bare      a bare QWebEngineView loading the same page, the same way
//   cpu quillory|bare URL SECONDS
//                 the window (or a bare view) showing URL: prints the CPU seconds its process tree
//                 spends while the page sits there for SECONDS, once it has settled
// The home page comes through the proxy the benchmark sets in the environment.

#include "processmemory.h"

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
using Quillory::Bench::treeResidentKiB;

namespace {

// CPU time (user and system) of this process and all its descendants, in seconds.
double treeCpuSeconds(qint64 pid)
{
    double total = 0;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // After the name: state is field 3, utime and stime are fields 14 and 15.
        total += (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task) + u"/children"_s);
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                total += treeCpuSeconds(child.trimmed().toLongLong());
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

// The window ("quillory") or a bare view of the same size, shown, with its page in `page`.
std::unique_ptr<QWidget> showWindow(const QString &which, QWebEnginePage **page)
{
    if (which == u"quillory"_s) {
        auto form = std::make_unique<Quillory::Form1>();
        *page = form->page();
        form->show();
        return form;
    }
    auto view = std::make_unique<QWebEngineView>();
    view->resize(932, 619);
    view->show();
    *page = view->page();
    return view;
}

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
        QWebEnginePage *page = nullptr;
        const std::unique_ptr<QWidget> window = showWindow(args[1], &page);
        if (args[1] == u"quillory"_s)
            static_cast<Quillory::Form1 *>(window.get())->Form_Load();
        else
            page->load(QUrl(Quillory::TrialSite::homePage));
        if (!waitForLoad(page))
            return 1;
        QTest::qWait(1500); // let the engine settle
        std::printf("%lld\n", static_cast<long long>(treeResidentKiB(getpid())));
        return 0;
    }
    if (args.size() == 4 && args[0] == u"cpu"_s) {
        QWebEnginePage *page = nullptr;
        const std::unique_ptr<QWidget> window = showWindow(args[1], &page);
        page->load(QUrl(args[2]));
        if (!waitForLoad(page))
            return 1;
        QTest::qWait(5000); // settled, and the question cut ahead
        const double before = treeCpuSeconds(getpid());
        QTest::qWait(args[3].toInt() * 1000);
        std::printf("%.3f\n", treeCpuSeconds(getpid()) - before);
        return 0;
    }
    std::fputs("usage: quillory-window-probe startup | rss quillory|bare | cpu quillory|bare URL SECONDS\n",
               stderr);
    return 2;
}

#include "windowprobe.moc"
