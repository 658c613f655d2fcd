// The window section of quillory-bench: start-up, memory, the answering pass in the real window, the
// event loop during a slow download, and the document text of a large deep page.

#include "answer/answeringpass.h"
#include "answer/trialsite.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "corebench.h"
#include "httpfixture.h"
#include "pagetext/documenttext.h"
#include "windowpages.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using namespace Quillory::Testing;
using namespace std::chrono_literals;

namespace Quillory::Bench {

namespace {

const QString trialUrl = u"http://try.taobao.com/item.htm?id=1"_s;
const QString productUrl = u"http://item.taobao.com/item.htm?id=2"_s;

// The trial and product sites, reached through the proxy setting as in the browser tests.
class Sites final
{
public:
    Sites() : m_server([this](const HttpRequest &request) { return answer(request); })
    {
        if (!m_server.startInThread())
            qFatal("cannot listen on 127.0.0.1");
        qputenv("http_proxy", m_server.proxyUrl().toLatin1());
        qunsetenv("no_proxy");
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        serve(TrialSite::homePage, u"<html><body><h1>试用中心</h1><p>首页</p></body></html>"_s);
        serve(productUrl, brandProductPage());
    }

    void serve(const QString &url, const QString &html, std::chrono::milliseconds delay = 0ms)
    {
        HttpReply reply = HttpReply::html(html.toUtf8(), "utf-8");
        reply.delay = delay;
        QMutexLocker lock(&m_mutex);
        m_pages.insert(url, reply);
    }

private:
    HttpReply answer(const HttpRequest &request)
    {
        QMutexLocker lock(&m_mutex);
        return m_pages.value(request.url.toString(), HttpReply::html("<p>not here</p>", "utf-8", 404));
    }

    QMutex m_mutex;
    QHash<QString, HttpReply> m_pages;
    HttpFixture m_server;
};

class IgnoreLaunches final : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl &) {}
};

QString probePath()
{
    return QCoreApplication::applicationDirPath() + u"/quillory-window-probe"_s;
}

// Process start to the window on screen, measured from outside the process.
double startupMs()
{
    QProcess probe;
    QElapsedTimer clock;
    clock.start();
    probe.start(probePath(), {u"startup"_s});
    if (!probe.waitForReadyRead(60000) || !probe.readLine().startsWith("shown"))
        return -1;
    const double elapsed = clock.nsecsElapsed() / 1e6;
    probe.waitForFinished(30000);
    return elapsed;
}

double residentMiB(const QString &which)
{
    QProcess probe;
    probe.start(probePath(), {u"rss"_s, which});
    if (!probe.waitForFinished(90000) || probe.exitCode() != 0)
        return -1;
    return probe.readAllStandardOutput().trimmed().toDouble() / 1024.0;
}

bool loadAndWait(QWebEnginePage *page, const QUrl &url)
{
    bool finished = false;
    const auto connection = QObject::connect(page, &QWebEnginePage::loadFinished, [&] { finished = true; });
    page->load(url);
    const bool ok = QTest::qWaitFor([&] { return finished; }, 60000);
    QObject::disconnect(connection);
    QTest::qWait(1000); // the engine lays out and paints a large page for a while after it has loaded
    return ok;
}

// Alt+Z in the page to the answer written in the field, less the download; median of `runs`.
double passMs(Form1 &window, int runs)
{
    QList<double> figures;
    QWidget *pageWidget = window.WebBrowser1->focusProxy();
    for (int run = 0; run < runs; ++run) {
        bool written = false;
        const auto connection =
            QObject::connect(window.answeringPass(), &AnsweringPass::fieldWritten, [&] { written = true; });
        pageWidget->setFocus();
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(pageWidget, Qt::Key_Z, Qt::AltModifier);
        if (!QTest::qWaitFor([&] { return written; }, 60000))
            return -1;
        figures.append(clock.nsecsElapsed() / 1e6 - double(window.answeringPass()->lastDownloadMs()));
        QObject::disconnect(connection);
    }
    return BenchTable::median(figures);
}

// The longest gap between two turns of the event loop while a pass waits 3 s for its download.
double longestStallMs(Form1 &window)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    bool finished = false;
    const auto connection =
        QObject::connect(window.answeringPass(), &AnsweringPass::fieldWritten, [&] { finished = true; });
    clock.start();
    probe.start(1);
    window.Command_dati->click();
    const bool ok = QTest::qWaitFor([&] { return finished; }, 60000);
    probe.stop();
    QObject::disconnect(connection);
    return ok ? longest / 1e6 : -1;
}

void documentText(Form1 &window, BenchTable &table)
{
    QString text;
    const double seconds = BenchTable::medianSeconds(3, [&] {
        bool done = false;
        getWebHtml(*window.page(), &window, [&](const QString &result) {
            text = result;
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done; }, 120000);
    });
    table.add(u"getWebHtml, 1 MB page nested 40 deep"_s, seconds * 1000, u"ms"_s,
              u"returns %1 characters"_s.arg(text.size()));
}

} // namespace

void runWindowBenchmarks(BenchTable &table)
{
    Sites sites;
    IgnoreLaunches ignore;
    QDesktopServices::setUrlHandler(u"http"_s, &ignore, "open");

    table.addSection(u"The window"_s);
    QList<double> startups;
    for (int run = 0; run < 5; ++run)
        startups.append(startupMs());
    table.add(u"start-up to the window shown"_s, BenchTable::median(startups), u"ms"_s, u"median of 5"_s);

    QList<double> ours, bare;
    for (int run = 0; run < 3; ++run) {
        ours.append(residentMiB(u"quillory"_s));
        bare.append(residentMiB(u"bare"_s));
    }
    const double oursMiB = BenchTable::median(ours), bareMiB = BenchTable::median(bare);
    table.add(u"resident memory, home page loaded"_s, oursMiB, u"MiB"_s, u"process tree, median of 3"_s);
    table.add(u"  bare QWebEngineView, same page"_s, bareMiB, u"MiB"_s,
              u"ratio %1 (goal: within 10 %)"_s.arg(oursMiB / bareMiB, 0, 'f', 3));

    Form1 window;
    window.show();
    window.activateWindow(); // access keys go to the active window only
    if (!QTest::qWaitForWindowActive(&window))
        qFatal("the window did not become active");

    table.addSection(u"Answering pass: Alt+Z to the answer written, less the download"_s);
    for (const int depth : {10, 40}) {
        for (const qsizetype kib : {100, 1024, 2560, 5120}) {
            sites.serve(trialUrl, trialPageOfSize(kib * 1024, depth, productUrl));
            if (!loadAndWait(window.page(), QUrl(trialUrl)))
                qFatal("trial page did not load");
            const QString name = u"%1 KB page, nested %2 deep"_s.arg(kib).arg(depth);
            const QString goal =
                kib == 1024 && depth == 40 ? u"median of 5 (goal: under 100 ms)"_s : u"median of 5"_s;
            table.add(name, passMs(window, 5), u"ms"_s, goal);
        }
    }

    table.addSection(u"Event loop during a pass whose download takes 3 s"_s);
    sites.serve(productUrl, brandProductPage(), 3000ms);
    sites.serve(trialUrl, trialPageOfSize(1024 * 1024, 40, productUrl));
    if (!loadAndWait(window.page(), QUrl(trialUrl)))
        qFatal("trial page did not load");
    table.add(u"longest stall, 1 MB page nested 40 deep"_s, longestStallMs(window), u"ms"_s,
              u"goal: under 50 ms"_s);
    sites.serve(productUrl, brandProductPage());

    table.addSection(u"Document text"_s);
    documentText(window, table);
    QDesktopServices::unsetUrlHandler(u"http"_s);
}

} // namespace Quillory::Bench

#include "windowbench.moc"
