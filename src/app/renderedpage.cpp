#include "renderedpage.h"

#include "pageprotocol.h"
#include "pagetext/weburl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace Quillory {

namespace {

// The engine reports that a link is a file to download a moment after the navigation to it has ended;
// a load stopped without a document waits this long for that word before it fails.
constexpr auto stoppedLoadGrace = 200ms;
// The engine's code for a navigation that ended without an error of the network's: stopped, replaced,
// or turned into a download.
constexpr int abortedLoadCode = -3;

QString scriptSource()
{
    static const QString source = [] {
        QFile file(u":/quillory/scripts/renderedpage.js"_s);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("the hidden page's script is missing from the program's resources");
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

QString scriptWithMark(const QString &commitMark)
{
    return u"("_s + scriptSource() + u")("_s + PageProtocol::stringLiteral(commitMark) + u");"_s;
}

const QString apiOfDocument = u"window[Symbol.for(\"quillory.rendered\")]"_s;

// A secret of one run: 128 random bits.
QString newCommitMark()
{
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return u"quillory-commit-"_s + QString::number(bits[0], 16) + QString::number(bits[1], 16);
}

QUrl withoutFragment(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment);
}

// Where a frame inside the page may go: web pages, and what the engine makes of pages' own content.
bool isFrameScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return isWebScheme(url) || scheme == u"about"_s || scheme == u"data"_s || scheme == u"blob"_s;
}

// What the hidden page never fetches: nothing that is only seen or heard, nothing that reports on the
// reader, nothing that would outlive the page.
bool isBlockedResource(QWebEngineUrlRequestInfo::ResourceType type)
{
    using Info = QWebEngineUrlRequestInfo;
    switch (type) {
    case Info::ResourceTypeImage:
    case Info::ResourceTypeFontResource:
    case Info::ResourceTypeMedia:
    case Info::ResourceTypeFavicon:
    case Info::ResourceTypeObject:
    case Info::ResourceTypePluginResource:
    case Info::ResourceTypePing:
    case Info::ResourceTypeCspReport:
    case Info::ResourceTypePrefetch:
    case Info::ResourceTypeServiceWorker:
        return true;
    default:
        return false;
    }
}

void restrictSettings(QWebEngineSettings &settings)
{
    using S = QWebEngineSettings;
    for (const S::WebAttribute off : {S::AutoLoadImages,
                                      S::AutoLoadIconsForPage,
                                      S::TouchIconsEnabled,
                                      S::JavascriptCanOpenWindows,
                                      S::JavascriptCanAccessClipboard,
                                      S::JavascriptCanPaste,
                                      S::PluginsEnabled,
                                      S::PdfViewerEnabled,
                                      S::FullScreenSupportEnabled,
                                      S::ScreenCaptureEnabled,
                                      S::HyperlinkAuditingEnabled,
                                      S::ErrorPageEnabled,
                                      S::FocusOnNavigationEnabled,
                                      S::AllowWindowActivationFromJavaScript,
                                      S::WebGLEnabled,
                                      S::Accelerated2dCanvasEnabled,
                                      S::DnsPrefetchEnabled,
                                      S::NavigateOnDropEnabled,
                                      S::AllowRunningInsecureContent,
                                      S::AllowGeolocationOnInsecureOrigins})
        settings.setAttribute(off, false);
    settings.setAttribute(S::PlaybackRequiresUserGesture, true);
    settings.setAttribute(S::WebRTCPublicInterfacesOnly, true);
    settings.setUnknownUrlSchemePolicy(S::DisallowUnknownUrlSchemes);
}

} // namespace

// What the run needs to hear from its page and the page's requests.
class RenderRunEvents
{
public:
    virtual ~RenderRunEvents() = default;
    virtual bool navigationAllowed(const QUrl &url, QWebEnginePage::NavigationType type,
                                   bool isMainFrame) = 0;
    virtual void consoleMessage(const QString &message) = 0;
    virtual void mainFrameBlocked(const QUrl &url) = 0;
};

namespace {

// Blocks what the hidden page never fetches, and every request into this machine or a private network
// unless allowed. The engine calls it on this thread.
class HiddenPageInterceptor final : public QWebEngineUrlRequestInterceptor
{
public:
    HiddenPageInterceptor(bool privateNetworkAllowed, RenderRunEvents &events, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), m_privateNetworkAllowed(privateNetworkAllowed),
          m_events(events)
    {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (isBlockedResource(info.resourceType())) {
            info.block(true);
            return;
        }
        if (!m_privateNetworkAllowed && isPrivateNetworkHost(info.requestUrl())) {
            info.block(true);
            if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
                m_events.mainFrameBlocked(info.requestUrl());
        }
    }

private:
    bool m_privateNetworkAllowed = false;
    RenderRunEvents &m_events;
};

// A page that shows nothing and asks nothing: its dialogs are answered no at once, its windows and
// file choosers never made, its console kept to itself but for the run's own mark.
class HiddenPage final : public QWebEnginePage
{
public:
    HiddenPage(QWebEngineProfile *profile, RenderRunEvents &events, QObject *parent)
        : QWebEnginePage(profile, parent), m_events(events)
    {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        return m_events.navigationAllowed(url, type, isMainFrame);
    }
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    QStringList chooseFiles(FileSelectionMode, const QStringList &, const QStringList &) override
    {
        return {};
    }
    void javaScriptAlert(const QUrl &, const QString &) override {}
    bool javaScriptConfirm(const QUrl &, const QString &) override { return false; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override
    {
        return false;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int,
                                  const QString &) override
    {
        m_events.consoleMessage(message);
    }

private:
    RenderRunEvents &m_events;
};

} // namespace

// One load: its hidden page, its clock, and its one answer. It deletes itself, and the page with it,
// once it has answered.
class RenderRun final : public QObject, private RenderRunEvents
{
public:
    RenderRun(QWebEngineProfile *profile, const RenderLimits &limits, const QUrl &url,
              bool privateNetworkAllowed, QObject *context, std::function<void(const RenderedPage &)> done,
              QObject *parent);
    // The page goes first, while the run it calls into is still whole.
    ~RenderRun() override { delete m_page; }

    void start();
    bool ended() const { return m_ended; }
    void end(RenderedPage::Status status, const QString &errorText);
    bool owns(const QWebEnginePage *page) const { return page && page == m_page; }
    void downloadRefused(const QUrl &url);

private:
    // RenderRunEvents
    bool navigationAllowed(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame) override;
    void consoleMessage(const QString &message) override;
    void mainFrameBlocked(const QUrl &url) override;

    bool admit(const QUrl &url);
    bool follow(const QUrl &url);
    bool refuse(const QString &why);
    bool isTheLink(const QUrl &url) const;
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void loaded();
    void poll();
    void read(bool settled);
    void finishWithText(const QString &text, bool settled);
    void deliver(const RenderedPage &page);

    QWebEngineProfile *m_profile = nullptr;
    RenderLimits m_limits;
    QUrl m_link;
    bool m_privateNetworkAllowed = false;
    QPointer<QObject> m_context;
    bool m_hasContext = false;
    std::function<void(const RenderedPage &)> m_done;
    QString m_commitMark = newCommitMark();

    QPointer<HiddenPage> m_page;
    QElapsedTimer m_clock;
    QTimer m_pollTimer;
    QTimer m_readAtLimit;
    QTimer m_deadline;
    QTimer m_stoppedLoad;

    // The navigation under way: where it is (after redirects), whether it has become a document, and
    // whether that document has loaded. `m_document` counts navigations, so that an answer from the page
    // about a document that has since been replaced is known as such.
    QUrl m_target;
    bool m_ownLoadPending = true;
    bool m_committed = false;
    bool m_loaded = false;
    qint64 m_loadedAtMs = 0;
    quint64 m_document = 0;
    int m_followed = 0;
    bool m_polling = false;
    bool m_reading = false;
    bool m_ended = false;
};

RenderRun::RenderRun(QWebEngineProfile *profile, const RenderLimits &limits, const QUrl &url,
                     bool privateNetworkAllowed, QObject *context,
                     std::function<void(const RenderedPage &)> done, QObject *parent)
    : QObject(parent), m_profile(profile), m_limits(limits), m_link(url),
      m_privateNetworkAllowed(privateNetworkAllowed), m_context(context), m_hasContext(context != nullptr),
      m_done(std::move(done)), m_target(url)
{
    // A change every few frames is enough to tell, and a poll costs the page a few microseconds.
    m_pollTimer.setInterval(std::clamp(m_limits.quietFor / 5, 10ms, 100ms));
    connect(&m_pollTimer, &QTimer::timeout, this, &RenderRun::poll);
    // A page that never settles is read as it stands a little before the limit, so that its answer
    // still comes by the limit.
    m_readAtLimit.setSingleShot(true);
    m_readAtLimit.setTimerType(Qt::PreciseTimer); // a coarse timer may fire a twentieth early
    m_readAtLimit.setInterval(m_limits.total - std::min<std::chrono::milliseconds>(1s, m_limits.total / 10));
    connect(&m_readAtLimit, &QTimer::timeout, this, [this] {
        if (m_loaded && !m_reading)
            read(false);
    });
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    m_deadline.setInterval(m_limits.total);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        end(RenderedPage::Status::TimedOut,
            m_loaded ? u"the page did not answer within %1 ms: "_s.arg(m_limits.total.count()) +
                           m_target.toString()
                     : u"no page loaded within %1 ms: "_s.arg(m_limits.total.count()) + m_target.toString());
    });
    m_stoppedLoad.setSingleShot(true);
    m_stoppedLoad.setInterval(stoppedLoadGrace);
    connect(&m_stoppedLoad, &QTimer::timeout, this, [this] {
        if (!m_page->isLoading()) // else another navigation took its place
            end(RenderedPage::Status::Failed,
                u"the load stopped before a page came: "_s + m_target.toString());
    });
}

void RenderRun::start()
{
    m_clock.start();
    m_deadline.start();
    m_readAtLimit.start();
    if (!isWebUrl(m_link)) {
        end(RenderedPage::Status::Refused, u"only http and https links are loaded: "_s + m_link.toString());
        return;
    }
    if (!m_privateNetworkAllowed && isPrivateNetworkHost(m_link)) {
        end(RenderedPage::Status::Refused,
            u"a link into this machine or a private network refused: "_s + m_link.toString());
        return;
    }

    m_page = new HiddenPage(m_profile, *this, this);
    m_page->setUrlRequestInterceptor(new HiddenPageInterceptor(m_privateNetworkAllowed, *this, m_page));
    restrictSettings(*m_page->settings());
    m_page->setAudioMuted(true);
    QWebEngineScript script;
    script.setName(u"quillory-rendered"_s);
    script.setSourceCode(scriptWithMark(m_commitMark));
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    m_page->scripts().insert(script);

    connect(m_page, &QWebEnginePage::loadingChanged, this, &RenderRun::loadingChanged);
    connect(m_page, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                m_page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(m_page, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(m_page, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        end(RenderedPage::Status::Failed, u"the page's renderer ended: "_s + m_target.toString());
    });
    m_page->load(m_link);
    // A page without a view counts as hidden: the engine would slow its timers to one a second and never
    // run its animation frames, and some pages build their content in those. It only counts as shown to
    // its own scripts; nothing is drawn anywhere. (Only once a load has made the page's contents.)
    m_page->setVisible(true);
}

bool RenderRun::navigationAllowed(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    if (m_ended)
        return false;
    if (!isMainFrame)
        return isFrameScheme(url); // the interceptor keeps frames out of the private network
    if (m_ownLoadPending && type == QWebEnginePage::NavigationTypeTyped && url == m_link) {
        m_ownLoadPending = false;
        return admit(url);
    }
    // The engine calls a server's redirect a redirect, but also a navigation that a page's script starts
    // while the page loads. Only before the navigation under way has become a document is it the server's.
    if (type == QWebEnginePage::NavigationTypeRedirect && !m_committed) {
        if (const QString why = redirectRefusal(m_target, url, m_privateNetworkAllowed); !why.isEmpty())
            return refuse(why + url.toString());
        return follow(url);
    }
    if (isTheLink(url))
        return follow(url);
    return refuse(u"the page tried to leave the link for "_s + url.toString());
}

// The page loading the link again, or the document it has become: a check page that set its cookie and
// reloads. Any other address is somewhere else.
bool RenderRun::isTheLink(const QUrl &url) const
{
    const QUrl bare = withoutFragment(url);
    return bare == withoutFragment(m_link) || bare == withoutFragment(m_target) ||
           (m_page && bare == withoutFragment(m_page->url()));
}

bool RenderRun::follow(const QUrl &url)
{
    if (m_followed >= m_limits.maxFollowed)
        return refuse(u"more than %1 redirects and reloads; the next was to "_s.arg(m_limits.maxFollowed) +
                      url.toString());
    ++m_followed;
    return admit(url);
}

bool RenderRun::admit(const QUrl &url)
{
    m_target = url;
    m_committed = false;
    m_loaded = false;
    m_stoppedLoad.stop();
    m_pollTimer.stop();
    ++m_document;
    return true;
}

bool RenderRun::refuse(const QString &why)
{
    end(RenderedPage::Status::Refused, why);
    return false;
}

void RenderRun::consoleMessage(const QString &message)
{
    if (message == m_commitMark) {
        m_committed = true;
        m_stoppedLoad.stop();
    }
}

void RenderRun::mainFrameBlocked(const QUrl &url)
{
    // Not from inside the engine's call: the page is still deciding about the request.
    QTimer::singleShot(0, this, [this, url] {
        end(RenderedPage::Status::Refused,
            u"a request into this machine or a private network refused: "_s + url.toString());
    });
}

void RenderRun::downloadRefused(const QUrl &url)
{
    // The link itself (or where it led) is a file: there will be no page. A file that a page's script
    // asks for is refused, and the page goes on.
    if (!m_loaded && withoutFragment(url) == withoutFragment(m_target))
        end(RenderedPage::Status::Failed, u"the link is a file to download, not a page: "_s + url.toString());
}

void RenderRun::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (m_ended)
        return;
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        loaded();
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
    case QWebEngineLoadingInfo::LoadFailedStatus:
        break;
    }
    if (withoutFragment(info.url()) != withoutFragment(m_target))
        return; // a navigation that another has replaced
    if (m_committed && info.status() == QWebEngineLoadingInfo::LoadStoppedStatus) {
        loaded(); // the page stopped its own load: what it has is its document
        return;
    }
    if (info.errorCode() == abortedLoadCode) {
        m_stoppedLoad.start(); // a download, a replacement, or nothing: see downloadRefused
        return;
    }
    end(RenderedPage::Status::Failed, info.errorString() + u": "_s + info.url().toString());
}

// The quiet wait starts afresh with each document.
void RenderRun::loaded()
{
    m_committed = true;
    m_loaded = true;
    m_loadedAtMs = m_clock.elapsed();
    m_stoppedLoad.stop();
    m_pollTimer.start();
}

void RenderRun::poll()
{
    if (m_polling || m_reading || !m_loaded)
        return;
    m_polling = true;
    const quint64 document = m_document;
    m_page->runJavaScript(u"(p => p === undefined ? -1 : p.quietMs())("_s + apiOfDocument + u')',
                          QWebEngineScript::ApplicationWorld,
                          [run = QPointer<RenderRun>(this), document](const QVariant &result) {
                              if (!run || run->m_ended)
                                  return;
                              run->m_polling = false;
                              if (document != run->m_document || !run->m_loaded)
                                  return;
                              // Quiet since the load at least; a document without the script is quiet since
                              // then alone.
                              const double sinceLoad = double(run->m_clock.elapsed() - run->m_loadedAtMs);
                              const double sinceChange =
                                  result.toDouble() < 0 ? sinceLoad : result.toDouble();
                              if (std::min(sinceChange, sinceLoad) >= double(run->m_limits.quietFor.count()))
                                  run->read(true);
                          });
}

void RenderRun::read(bool settled)
{
    m_reading = true;
    m_pollTimer.stop();
    const quint64 document = m_document;
    m_page->runJavaScript(scriptWithMark(QString()) + u"\n"_s + apiOfDocument + u".markup()"_s,
                          QWebEngineScript::ApplicationWorld,
                          [run = QPointer<RenderRun>(this), document, settled](const QVariant &result) {
                              if (!run || run->m_ended)
                                  return;
                              run->m_reading = false;
                              if (document != run->m_document || !run->m_loaded)
                                  return; // replaced meanwhile: the new document gets its own wait
                              if (result.typeId() != QMetaType::QString) {
                                  run->end(RenderedPage::Status::Failed,
                                           u"the page's document could not be read: "_s +
                                               run->m_target.toString());
                                  return;
                              }
                              run->finishWithText(result.toString(), settled);
                          });
}

void RenderRun::finishWithText(const QString &text, bool settled)
{
    RenderedPage page;
    page.status = RenderedPage::Status::Ok;
    page.settled = settled;
    page.text = text;
    m_ended = true;
    deliver(page);
}

void RenderRun::end(RenderedPage::Status status, const QString &errorText)
{
    if (m_ended)
        return;
    m_ended = true;
    RenderedPage page;
    page.status = status;
    page.errorText = errorText;
    deliver(page);
}

void RenderRun::deliver(const RenderedPage &result)
{
    RenderedPage page = result;
    page.finalUrl = m_page && !m_page->url().isEmpty() ? m_page->url() : m_target;
    page.followed = m_followed;
    page.elapsed = std::chrono::milliseconds(m_clock.isValid() ? m_clock.elapsed() : 0);
    m_pollTimer.stop();
    m_readAtLimit.stop();
    m_deadline.stop();
    m_stoppedLoad.stop();
    if (m_page)
        m_page->disconnect(this); // its last words go unheard; it is deleted with the run
    // Later, and only while the caller's context lives: never from inside the engine's call into the
    // page, and never into a caller that has gone.
    QObject *receiver = m_hasContext ? m_context.data() : parent();
    if (receiver)
        QTimer::singleShot(0, receiver, [done = std::move(m_done), page] { done(page); });
    deleteLater(); // the page goes with it
}

RenderedPageLoader::RenderedPageLoader(QWebEngineProfile *profile, RenderLimits limits, QObject *parent)
    : QObject(parent), m_profile(profile), m_limits(limits)
{
    // Every download of a hidden page is refused, whatever else the profile does with downloads. (A
    // handler of the pane's that takes downloads must take only those of the pane's own page.)
    connect(m_profile, &QWebEngineProfile::downloadRequested, this, &RenderedPageLoader::refuseDownload);
}

RenderedPageLoader::~RenderedPageLoader() = default;

void RenderedPageLoader::load(const QUrl &url, bool privateNetworkAllowed, QObject *context,
                              std::function<void(const RenderedPage &)> done)
{
    cancel();
    m_run = new RenderRun(m_profile, m_limits, url, privateNetworkAllowed, context, std::move(done), this);
    m_run->start();
}

void RenderedPageLoader::cancel()
{
    if (m_run)
        m_run->end(RenderedPage::Status::Cancelled, u"cancelled"_s);
    m_run.clear();
}

bool RenderedPageLoader::isLoading() const
{
    return m_run && !m_run->ended();
}

void RenderedPageLoader::refuseDownload(QWebEngineDownloadRequest *download)
{
    QWebEnginePage *page = download->page();
    if (!dynamic_cast<HiddenPage *>(page))
        return;
    const QUrl url = download->url();
    download->cancel();
    if (m_run && m_run->owns(page))
        m_run->downloadRefused(url);
}

} // namespace Quillory
