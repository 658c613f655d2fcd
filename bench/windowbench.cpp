// The window section of quillory-bench: start-up, memory, the answering pass in the real window, the
// event loop during a slow download, and the document text of a large deep page.

#include "answer/answeringpass.h"
#include "answer/passreport.h"
#include "answer/trialsite.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "corebench.h"
#include "httpfixture.h"
#include "pagetext/documenttext.h"
#include "pagetext/timemark.h"
#include "windowpages.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <cstdlib>
#include <memory>
#include <optional>

#ifdef QUILLORY_BENCH_WITH_XTEST
#include <xcb/xcb.h>
#include <xcb/xtest.h>
#endif

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

// Runs the event loop until `done()` holds, without the sleeps between rounds that QTest's waits make
// (they would add up to 10 ms to every step the window takes).
bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// A page settled as a user's would be: loaded, laid out and painted, and the engine idle.
bool loadAndSettle(QWebEnginePage *page, const QUrl &url)
{
    bool finished = false;
    const auto connection = QObject::connect(page, &QWebEnginePage::loadFinished, [&] { finished = true; });
    page->load(url);
    const bool ok = spinUntil([&] { return finished; }, 60000);
    QObject::disconnect(connection);
    QElapsedTimer settle;
    settle.start();
    spinUntil([&] { return settle.elapsed() > 1500; }, 5000);
    return ok;
}

// A trial page settled, and its question cut ahead of the key, as after a user has read the page for a
// moment.
bool loadTrialPageAndSettle(Form1 &window, const QUrl &url)
{
    bool kept = false;
    const auto connection =
        QObject::connect(&window.answeringPass()->questionAhead(), &QuestionAhead::readKept,
                         [&](bool isKept) { kept = kept || isKept; });
    const bool ok = loadAndSettle(window.page(), url) && spinUntil([&] { return kept; }, 60000);
    QObject::disconnect(connection);
    return ok;
}

QString pageReadName(const std::optional<PageRead> &read)
{
    if (!read)
        return u"none"_s;
    switch (*read) {
    case PageRead::Kept:
        return u"kept"_s;
    case PageRead::Scan:
        return u"scan"_s;
    case PageRead::Walk:
        return u"walk"_s;
    case PageRead::Pieces:
        return u"pieces"_s;
    case PageRead::PiecesUnchecked:
        return u"pieces (unchecked)"_s;
    case PageRead::Parts:
        return u"parts"_s;
    }
    return {};
}

// CPU seconds of a probe's process tree while a live page sits idle for `seconds`.
double idleCpuSeconds(const QString &which, int seconds)
{
    QProcess probe;
    probe.start(probePath(), {u"cpu"_s, which, trialUrl, QString::number(seconds)});
    if (!probe.waitForFinished((seconds + 120) * 1000) || probe.exitCode() != 0)
        return -1;
    return probe.readAllStandardOutput().trimmed().toDouble();
}

// Alt+Z as the user types it: through the X server when there is one, else into the window.
class AltZ final
{
public:
    explicit AltZ(Form1 &window) : m_window(window)
    {
#ifdef QUILLORY_BENCH_WITH_XTEST
        auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        if (QGuiApplication::platformName() == u"xcb"_s && x11 && x11->connection()) {
            m_connection = x11->connection();
            m_alt = keycodeOf(0xffe9); // the keysyms Alt_L and z
            m_z = keycodeOf(0x007a);
        }
#endif
    }

    bool throughTheXServer() const
    {
        return m_alt != 0 && m_z != 0;
    }

    void press()
    {
#ifdef QUILLORY_BENCH_WITH_XTEST
        if (throughTheXServer()) {
            for (const auto &[type, key] :
                 {std::pair{XCB_KEY_PRESS, m_alt}, std::pair{XCB_KEY_PRESS, m_z},
                  std::pair{XCB_KEY_RELEASE, m_z}, std::pair{XCB_KEY_RELEASE, m_alt}})
                xcb_test_fake_input(m_connection, uint8_t(type), key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
            xcb_flush(m_connection);
            return;
        }
#endif
        QTest::keyClick(m_window.WebBrowser1->focusProxy(), Qt::Key_Z, Qt::AltModifier);
    }

private:
#ifdef QUILLORY_BENCH_WITH_XTEST
    xcb_keycode_t keycodeOf(xcb_keysym_t keysym) const
    {
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto cookie = xcb_get_keyboard_mapping(m_connection, setup->min_keycode, uint8_t(count));
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
            xcb_get_keyboard_mapping_reply(m_connection, cookie, nullptr), &std::free);
        if (!reply)
            return 0;
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
        for (int i = 0; i < count * reply->keysyms_per_keycode; ++i) {
            if (keysyms[i] == keysym)
                return xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
        }
        return 0;
    }
    xcb_connection_t *m_connection = nullptr;
#endif
    Form1 &m_window;
    uint8_t m_alt = 0;
    uint8_t m_z = 0;
};

// One pass from Alt+Z to the answer written in the page's field, with what it did and how long the
// event loop was held up at most meanwhile.
struct PassRun
{
    PassReport report;
    PassTrace trace;
    qint64 keyNs = 0;
    double longestStallMs = 0;
    double keyToInputMs = 0; // Alt+Z to the page's own input listener hearing of the answer
};

double epochMs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1000.0;
}

QVariant inPage(QWebEnginePage &page, const QString &source)
{
    QVariant result;
    bool done = false;
    page.runJavaScript(source, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    spinUntil([&] { return done; }, 10000);
    return result;
}

std::optional<PassRun> runPass(Form1 &window, AltZ &key)
{
    QWidget *pageWidget = window.WebBrowser1->focusProxy();
    pageWidget->setFocus();
    spinUntil([&] { return pageWidget->hasFocus(); }, 2000);

    PassRun run;
    bool reported = false;
    const auto connection =
        QObject::connect(window.answeringPass(), &AnsweringPass::reported, [&](const PassReport &report) {
            run.report = report;
            reported = true;
        });
    const auto traceConnection = QObject::connect(window.answeringPass(), &AnsweringPass::traced,
                                                  [&](const PassTrace &trace) { run.trace = trace; });
    qint64 last = timeMarkNs();
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = timeMarkNs();
        longest = std::max(longest, now - last);
        last = now;
    });
    probe.start(1);
    inPage(*window.page(), u"window.answeredAt = 0"_s);
    const double keyEpochMs = epochMs();
    run.keyNs = timeMarkNs();
    last = run.keyNs;
    key.press();
    const bool ok = spinUntil([&] { return reported; }, 60000);
    probe.stop();
    QObject::disconnect(connection);
    QObject::disconnect(traceConnection);
    run.longestStallMs = longest / 1e6;
    if (!ok || run.report.answer != u"长春"_s)
        return std::nullopt;
    run.keyToInputMs = inPage(*window.page(), u"window.answeredAt"_s).toDouble() - keyEpochMs;
    return run;
}

double ms(qint64 from, qint64 to)
{
    return from > 0 && to > 0 ? (to - from) / 1e6 : 0;
}

// The pass less the product download (when the pass made one), from the key to the page's own input
// listener hearing of the answer.
double beyondTheDownloadMs(const PassRun &run)
{
    return run.keyToInputMs - double(run.trace.downloadMs);
}

struct PhaseFigures
{
    QList<double> total, key, read, cut, handOff, lookup, write, stall;
};

void addPhases(PhaseFigures &figures, const PassRun &run)
{
    const PassTrace &t = run.trace;
    figures.total.append(beyondTheDownloadMs(run));
    figures.key.append(ms(run.keyNs, t.at(PassPhase::Started)));
    figures.read.append(t.msBetween(PassPhase::Started, PassPhase::PageRead));
    figures.cut.append(t.msBetween(PassPhase::PageRead, PassPhase::QuestionCut));
    figures.handOff.append(t.msBetween(PassPhase::QuestionCut, PassPhase::ProductPage) -
                           double(t.downloadMs));
    figures.lookup.append(t.msBetween(PassPhase::ProductPage, PassPhase::LookedUp));
    figures.write.append(t.msBetween(PassPhase::LookedUp, PassPhase::FieldWritten));
    figures.stall.append(run.longestStallMs);
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
        spinUntil([&] { return done; }, 120000);
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
    AltZ key(window);
    const QString how =
        key.throughTheXServer() ? u"Alt+Z through the X server"_s : u"Alt+Z into the window"_s;

    table.addSection(
        u"Answering pass on the %1 platform (%2), to the page's input listener, less the download"_s.arg(
            QGuiApplication::platformName(), how));
    QList<std::pair<QString, PhaseFigures>> phases;
    QList<std::pair<QString, QMap<QString, int>>> routes;
    struct BenchPage
    {
        int depth;
        qsizetype kib;
        Liveness liveness;
    };
    QList<BenchPage> pages;
    for (const int depth : {10, 40}) {
        for (const qsizetype kib : {100, 1024, 2560, 5120})
            pages.append({depth, kib, Liveness::Static});
    }
    for (const qsizetype kib : {100, 1024, 5120})
        pages.append({40, kib, Liveness::Live});
    for (const BenchPage &benchPage : pages) {
        sites.serve(trialUrl,
                    trialPageOfSize(benchPage.kib * 1024, benchPage.depth, productUrl, benchPage.liveness));
        if (!loadTrialPageAndSettle(window, QUrl(trialUrl)))
            qFatal("trial page did not load, or its question was not cut ahead");
        PhaseFigures figures;
        QMap<QString, int> routeCounts;
        for (int run = 0; run < 6; ++run) {
            const std::optional<PassRun> pass = runPass(window, key);
            if (!pass)
                qFatal("a pass did not answer");
            ++routeCounts[pageReadName(pass->report.pageRead)];
            if (run > 0) // the first pass on a page meets the engine's first-time costs
                addPhases(figures, *pass);
            spinUntil([] { return false; }, 150);
        }
        const QString name = u"%1 KB page, nested %2 deep%3"_s.arg(benchPage.kib)
                                 .arg(benchPage.depth)
                                 .arg(benchPage.liveness == Liveness::Live ? u", live"_s : QString());
        table.add(name, BenchTable::median(figures.total), u"ms"_s,
                  u"median of 5; longest stall %1 ms"_s.arg(BenchTable::median(figures.stall), 0, 'f', 1));
        phases.append({name, figures});
        routes.append({name, routeCounts});
    }

    table.addSection(u"  how each pass came by the question (6 passes a page)"_s);
    for (const auto &[name, counts] : routes) {
        QStringList parts;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            parts.append(u"%1 %2"_s.arg(it.key()).arg(it.value()));
        table.add(u"  "_s + name, counts.value(u"kept"_s), u"kept"_s, parts.join(u", "_s));
    }

    table.addSection(
        u"  phases of the pass (medians, ms): key to start | read (in the page, transfer and "
        u"conversion) | cut | product page at hand | lookup | field write (to the write's report "
        u"back)"_s);
    for (const auto &[name, f] : phases) {
        const auto m = [](const QList<double> &values) {
            return QString::number(BenchTable::median(values), 'f', 2);
        };
        table.add(
            u"  "_s + name, BenchTable::median(f.total), u"ms"_s,
            QStringList{m(f.key), m(f.read), m(f.cut), m(f.handOff), m(f.lookup), m(f.write)}.join(u" | "_s));
    }

    table.addSection(u"The product page before the key: a product server that takes 1 s"_s);
    {
        sites.serve(productUrl, brandProductPage(), 1000ms);
        sites.serve(trialUrl, trialPageOfSize(100 * 1024, 10, productUrl));
        if (!loadAndSettle(window.page(), QUrl(trialUrl))) // 1.5 s: the early download is under way
            qFatal("trial page did not load");
        spinUntil([] { return false; }, 500); // Alt+Z 2 s after the page loaded
        const std::optional<PassRun> pass = runPass(window, key);
        if (!pass)
            qFatal("a pass did not answer");
        const bool early =
            pass->report.download && pass->report.download->origin == ProductPages::Origin::Early;
        table.add(
            u"Alt+Z 2 s after the page loaded, to the answer in the field"_s, pass->keyToInputMs, u"ms"_s,
            early ? u"the early download: no download left in the pass"_s : u"downloaded in the pass"_s);
        sites.serve(productUrl, brandProductPage());
    }

    table.addSection(
        u"A live 1 MB trial page sitting idle for 60 s (countdown every 100 ms, banner every 3 s)"_s);
    {
        sites.serve(trialUrl, trialPageOfSize(1024 * 1024, 40, productUrl, Liveness::Live));
        const double ours = idleCpuSeconds(u"quillory"_s, 60);
        const double bare = idleCpuSeconds(u"bare"_s, 60);
        table.add(u"CPU time of the window's process tree"_s, ours, u"s"_s);
        table.add(u"  bare QWebEngineView, same page"_s, bare, u"s"_s,
                  u"ratio %1 (goal: at most 1.1)"_s.arg(bare > 0 ? ours / bare : 0, 0, 'f', 3));
    }

    table.addSection(u"Document text"_s);
    sites.serve(trialUrl, trialPageOfSize(1024 * 1024, 40, productUrl));
    if (!loadAndSettle(window.page(), QUrl(trialUrl)))
        qFatal("trial page did not load");
    documentText(window, table);
    QDesktopServices::unsetUrlHandler(u"http"_s);
}

} // namespace Quillory::Bench

#include "windowbench.moc"
