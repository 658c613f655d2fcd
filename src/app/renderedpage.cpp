#include "renderedpage.h"

#include "answer/attributelookup.h"
#include "pageprotocol.h"
#include "pagetext/clock.h"
#include "pagetext/cookiejar.h"
#include "pagetext/hostresolver.h"
#include "pagetext/weburl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>
#include <QWebEngineCookieStore>
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

#include <QNetworkCookie>

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

// How often the loader asks the page whether its document has changed; it reads the document only when
// it has. Only how soon a change is seen depends on it, never whether.
constexpr auto pollInterval = 100ms;
// How long a name's place stays known: about as long as a name's address is usually kept.
constexpr auto placeKeptFor = std::chrono::minutes(5);
constexpr qsizetype maxPlacesKept = 4096;
// How many of the names known to lead outside go into a page's policy before any of its requests: enough
// for the hosts of the last few product pages, few enough to keep the policy short.
constexpr qsizetype maxPolicyHosts = 256;
// The cookie set last into a new profile: once the store reports it, every cookie set before it is in.
const QString seedMarkName = u"quillory-seeded"_s;
const QUrl seedMarkOrigin(u"http://seeded.invalid/"_s);

QString resource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the hidden page's scripts are missing from the program's resources");
    return QString::fromUtf8(file.readAll());
}

QString scriptSource()
{
    static const QString source = resource(u":/quillory/scripts/renderedpage.js"_s);
    return source;
}

QString guardSource()
{
    static const QString source = resource(u":/quillory/scripts/renderedguard.js"_s);
    return source;
}

QString guardWith(const QString &policy, const QString &reportMark)
{
    return u"("_s + guardSource() + u")("_s + PageProtocol::stringLiteral(policy) + u", "_s +
           PageProtocol::stringLiteral(reportMark) + u");"_s;
}

QString scriptWithMark(const QString &commitMark)
{
    return u"("_s + scriptSource() + u")("_s + PageProtocol::stringLiteral(commitMark) + u");"_s;
}

const QString apiOfDocument = u"window[Symbol.for(\"quillory.rendered\")]"_s;

// A secret of one run: 128 random bits.
QString newMark(const QString &kind)
{
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return u"quillory-"_s + kind + u'-' + QString::number(bits[0], 16) + QString::number(bits[1], 16);
}

// A host as a content security policy can name it: a name or an IPv4 address. A policy has no way to
// name an IPv6 address; requests to one stay refused.
bool isPolicyHost(const QString &host)
{
    return !host.isEmpty() && std::all_of(host.cbegin(), host.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
    });
}

// The page's view (scripts/renderedpage.js): a string, or its UTF-16 code units when it holds a lone
// surrogate, which a string would not carry across.
std::optional<QString> viewOf(const QVariant &result)
{
    if (result.typeId() == QMetaType::QString)
        return result.toString();
    if (result.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray units = result.toByteArray();
    return QString(reinterpret_cast<const QChar *>(units.constData()),
                   units.size() / qsizetype(sizeof(QChar)));
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
    case Info::ResourceTypeWorker:
    case Info::ResourceTypeSharedWorker:
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

// Whether a request may go out under the private-network rule: yes, no, or not before its host's name
// has been looked up.
enum class RequestAdmission
{
    Allowed,
    Refused,
    Unknown,
};

// What the run needs to hear from its page and the page's requests.
class RenderRunEvents
{
public:
    virtual ~RenderRunEvents() = default;
    virtual bool navigationAllowed(const QUrl &url, QWebEnginePage::NavigationType type,
                                   bool isMainFrame) = 0;
    virtual void consoleMessage(const QString &message) = 0;
    virtual RequestAdmission admission(const QUrl &url) const = 0;
    virtual void requestBlocked(const QUrl &url, bool mainFrame, RequestAdmission why) = 0;
    virtual void requestAllowed() = 0;
};

namespace {

// Every request of the hidden page's profile: what the hidden page never fetches, and every request
// that the private-network rule does not admit (yet). The engine calls it on this thread and wants its
// answer at once.
class HiddenPageInterceptor final : public QWebEngineUrlRequestInterceptor
{
public:
    HiddenPageInterceptor(RenderRunEvents &events, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), m_events(events)
    {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (isBlockedResource(info.resourceType())) {
            info.block(true);
            return;
        }
        const RequestAdmission admission = m_events.admission(info.requestUrl());
        if (admission == RequestAdmission::Allowed) {
            m_events.requestAllowed();
            return;
        }
        info.block(true);
        m_events.requestBlocked(info.requestUrl(),
                                info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame,
                                admission);
    }

private:
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

// One load: its profile, its hidden page, its clock, and its one answer. It deletes itself, and the page
// and profile with it, once it has answered.
class RenderRun final : public QObject, private RenderRunEvents
{
public:
    RenderRun(RenderedPageLoader &loader, QWebEngineProfile *pane, const RenderSession &session,
              const RenderLimits &limits, RenderRequest request, QObject *context,
              std::function<void(const RenderedPage &)> done);
    // The page goes first, while the run it calls into is still whole, then the profile it belonged to.
    ~RenderRun() override;

    void start();
    bool ended() const { return m_ended; }
    void end(RenderedPage::Status status, const QString &errorText);

private:
    // RenderRunEvents
    bool navigationAllowed(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame) override;
    void consoleMessage(const QString &message) override;
    RequestAdmission admission(const QUrl &url) const override;
    RequestAdmission hostAdmission(const QString &host) const;
    void requestBlocked(const QUrl &url, bool mainFrame, RequestAdmission why) override;
    void requestAllowed() override { becameActive(); }
    void becameActive()
    {
        m_activeAtMs = m_clock.elapsed();
        m_quietPolls = 0;
    }

    void learnHosts(const QList<QUrl> &urls);
    QString policy() const;
    void installGuard();
    void policyRefused(const QUrl &url);
    void dueAgain();
    void hostLearned(const QString &host);
    void allHostsKnown();
    void openPage();
    void seedCookies();
    void loadLink();
    void downloadRequested(QWebEngineDownloadRequest *download);
    bool admit(const QUrl &url);
    bool follow(const QUrl &url);
    bool refuse(const QString &why);
    bool isTheLink(const QUrl &url) const;
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void loaded();
    void sayStillLoading();
    void poll();
    void read(bool atLimit);
    void finishWithText(const QString &text, bool settled);
    void deliver(const RenderedPage &page);

    RenderedPageLoader &m_loader;
    QWebEngineProfile *m_pane = nullptr;
    RenderSession m_session;
    RenderLimits m_limits;
    RenderRequest m_request;
    QUrl m_link;
    QPointer<QObject> m_context;
    bool m_hasContext = false;
    std::function<void(const RenderedPage &)> m_done;
    QString m_commitMark = newMark(u"commit"_s);
    QString m_reportMark = newMark(u"refused"_s);
    // The hosts that the hidden page's documents may reach, by the private-network rule: those of this
    // run's own, and those the loader knows to be outside, as the guard was last installed with them.
    // Any other request is refused in the page, a redirect's included.
    QSet<QString> m_ownHosts;
    QSet<QString> m_policyHosts;

    QWebEngineProfile *m_profile = nullptr;
    HiddenPageInterceptor *m_interceptor = nullptr;
    QPointer<HiddenPage> m_page;
    QElapsedTimer m_clock;
    QTimer m_pollTimer;
    QTimer m_readAtLimit;
    QTimer m_deadline;
    QTimer m_stoppedLoad;

    // The names being looked up for this run, whether one of them, now known, was refused a request
    // that it would now be allowed (so the link is loaded again once all are known), and whether the
    // main frame itself was among the refused.
    QSet<QString> m_learning;
    bool m_relearnDue = false;
    bool m_mainFrameWaits = false;
    QString m_mainFrameHost;
    bool m_initiatorInside = false;
    int m_relearned = 0;

    // The navigation under way: where it is (after redirects), whether it has become a document, and
    // whether that document has loaded. `m_document` counts navigations, so that an answer from the page
    // about a document that has since been replaced is known as such.
    QUrl m_target;
    bool m_ownLoadPending = true;
    bool m_committed = false;
    bool m_loaded = false;
    quint64 m_document = 0;
    double m_changesRead = -1; // the page's change count at the last read of its document
    QString m_lastRead;        // that read, which did not hold what is asked for
    qint64 m_activeAtMs = 0;   // when the page last made a request, changed or loaded
    int m_quietPolls = 0;      // the page's answers since then, each of them "no change"
    int m_followed = 0;
    bool m_polling = false;
    bool m_reading = false;
    bool m_saidStillLoading = false;
    bool m_priming = false; // the empty first document that brings the profile's network up
    bool m_ended = false;
};

RenderRun::RenderRun(RenderedPageLoader &loader, QWebEngineProfile *pane, const RenderSession &session,
                     const RenderLimits &limits, RenderRequest request, QObject *context,
                     std::function<void(const RenderedPage &)> done)
    : QObject(&loader), m_loader(loader), m_pane(pane), m_session(session), m_limits(limits),
      m_request(std::move(request)), m_link(m_request.url), m_context(context),
      m_hasContext(context != nullptr), m_done(std::move(done)), m_target(m_link)
{
    m_pollTimer.setInterval(pollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &RenderRun::poll);
    // A page that never comes to hold what is asked for is read as it stands a little before the limit,
    // so that its answer still comes by the limit.
    m_readAtLimit.setSingleShot(true);
    m_readAtLimit.setTimerType(Qt::PreciseTimer); // a coarse timer may fire a twentieth early
    m_readAtLimit.setInterval(m_limits.total - std::min<std::chrono::milliseconds>(1s, m_limits.total / 10));
    connect(&m_readAtLimit, &QTimer::timeout, this, [this] {
        if (m_committed && m_page && !m_reading)
            read(true);
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
        if (m_page && !m_page->isLoading() && m_learning.isEmpty()) // else another navigation took its place
            end(RenderedPage::Status::Failed,
                u"the load stopped before a page came: "_s + m_target.toString());
    });
    if (!m_request.holds)
        m_request.holds = [](const QString &text) {
            return !lacksTheAttribute(text, {}, PageForm::Rendered);
        };
}

RenderRun::~RenderRun()
{
    delete m_page;
    delete m_profile;
    delete m_interceptor;
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
    if (!m_request.privateNetworkAllowed && isPrivateNetworkHost(m_link)) {
        end(RenderedPage::Status::Refused,
            u"a link into this machine or a private network refused: "_s + m_link.toString());
        return;
    }
    // Where the link and the page that asked lead is known before anything is sent.
    learnHosts({m_link, m_request.initiator});
}

// Looks up the names among `urls` that the private-network rule needs and are not known yet; the page
// opens once all are.
void RenderRun::learnHosts(const QList<QUrl> &urls)
{
    QStringList hosts;
    if (!m_request.privateNetworkAllowed) {
        for (const QUrl &url : urls) {
            if (isWebUrl(url) && !hasAddressHost(url) && !isPrivateNetworkHost(url) &&
                m_loader.placeOf(networkHost(url)) == RenderedPageLoader::HostPlace::Unknown)
                hosts << networkHost(url);
        }
    }
    hosts.removeDuplicates();
    if (hosts.isEmpty()) {
        allHostsKnown();
        return;
    }
    for (const QString &host : hosts)
        m_learning.insert(host);
    for (const QString &host : hosts)
        m_loader.learn(host, this, [this, host] { hostLearned(host); });
}

void RenderRun::hostLearned(const QString &host)
{
    if (m_ended || !m_learning.remove(host))
        return;
    if (m_page) {
        // A request of the page's was refused for want of knowing this name.
        if (hostAdmission(host) == RequestAdmission::Allowed) {
            m_ownHosts.insert(host);
            m_relearnDue = true;
        }
    }
    if (m_learning.isEmpty())
        allHostsKnown();
}

void RenderRun::allHostsKnown()
{
    if (m_ended)
        return;
    const QUrl &initiator = m_request.initiator;
    m_initiatorInside = isWebUrl(initiator) &&
                        (isPrivateNetworkHost(initiator) ||
                         m_loader.placeOf(networkHost(initiator)) == RenderedPageLoader::HostPlace::Inside);
    if (!m_page) {
        if (admission(m_link) == RequestAdmission::Refused) {
            end(RenderedPage::Status::Refused, u"a link into this machine or a private network refused: "_s +
                                                   networkHost(m_link) + u" leads there"_s);
            return;
        }
        openPage();
        return;
    }
    if (m_mainFrameWaits && hostAdmission(m_mainFrameHost) == RequestAdmission::Refused) {
        end(RenderedPage::Status::Refused, u"a request into this machine or a private network refused: "_s +
                                               m_mainFrameHost + u" leads there"_s);
        return;
    }
    if (!m_relearnDue && !m_mainFrameWaits)
        return;
    m_relearnDue = false;
    if (m_relearned >= m_limits.maxRelearned) {
        if (m_mainFrameWaits)
            end(RenderedPage::Status::Refused,
                u"more than %1 loads to learn where the page's hosts lead"_s.arg(m_limits.maxRelearned));
        return;
    }
    // Now that the names it asked for are known, the page gets what it was refused.
    ++m_relearned;
    m_mainFrameWaits = false;
    m_followed = 0;
    loadLink();
}

// The rule's word on any request to `host`: it depends on the host alone.
RequestAdmission RenderRun::hostAdmission(const QString &host) const
{
    QUrl url;
    url.setScheme(u"http"_s);
    url.setHost(host);
    return admission(url);
}

RequestAdmission RenderRun::admission(const QUrl &url) const
{
    const QString scheme = url.scheme();
    if (!isWebScheme(url))
        return scheme == u"data"_s || scheme == u"blob"_s || scheme == u"about"_s ? RequestAdmission::Allowed
                                                                                  : RequestAdmission::Refused;
    if (m_request.privateNetworkAllowed)
        return RequestAdmission::Allowed;
    if (isPrivateNetworkHost(url))
        return RequestAdmission::Refused;
    if (hasAddressHost(url))
        return RequestAdmission::Allowed;
    switch (m_loader.placeOf(networkHost(url))) {
    case RenderedPageLoader::HostPlace::Unknown:
        return RequestAdmission::Unknown;
    case RenderedPageLoader::HostPlace::Outside:
        return RequestAdmission::Allowed;
    case RenderedPageLoader::HostPlace::Inside:
        // As for the downloads: a name that leads inside is followed only when the page that asked is
        // there too, as a trial site on the user's own network would be.
        return m_initiatorInside ? RequestAdmission::Allowed : RequestAdmission::Refused;
    }
    return RequestAdmission::Refused;
}

void RenderRun::requestBlocked(const QUrl &url, bool mainFrame, RequestAdmission why)
{
    if (m_ended)
        return;
    if (why == RequestAdmission::Refused) {
        if (mainFrame) {
            // Not from inside the engine's call: the page is still deciding about the request.
            QTimer::singleShot(0, this, [this, url] {
                end(RenderedPage::Status::Refused,
                    u"a request into this machine or a private network refused: "_s + url.toString());
            });
        }
        return;
    }
    const QString host = networkHost(url);
    if (mainFrame) {
        m_mainFrameWaits = true; // its failure is no failure of the run's
        m_mainFrameHost = host;
    }
    if (m_learning.contains(host))
        return;
    m_learning.insert(host);
    // The resolver may answer at once: not from inside the engine's call either.
    QTimer::singleShot(0, this, [this, host] {
        if (!m_ended)
            m_loader.learn(host, this, [this, host] { hostLearned(host); });
    });
}

void RenderRun::openPage()
{
    // A profile of its own, off the record: what the page's scripts store stays in memory and goes with
    // the run.
    m_profile = new QWebEngineProfile();
    if (m_pane) {
        m_profile->setHttpUserAgent(m_pane->httpUserAgent());
        m_profile->setHttpAcceptLanguage(m_pane->httpAcceptLanguage());
    }
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_interceptor = new HiddenPageInterceptor(*this, nullptr);
    m_profile->setUrlRequestInterceptor(m_interceptor);
    connect(m_profile, &QWebEngineProfile::downloadRequested, this, &RenderRun::downloadRequested);

    m_ownHosts.insert(networkHost(m_link));
    m_page = new HiddenPage(m_profile, *this, nullptr);
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
    if (!m_session.cookies ||
        m_session.cookies->cookiesForRequest(m_link, m_request.initiator, m_request.userActivated)
            .isEmpty()) {
        loadLink();
        return;
    }
    // A new profile's cookie store takes cookies only once the profile's network is up, which a first
    // document brings; an empty one sends nothing anywhere.
    m_priming = true;
    connect(m_page, &QWebEnginePage::loadFinished, this, [this] {
        if (!m_priming)
            return;
        m_priming = false;
        seedCookies();
    });
    m_page->setHtml(QString());
}

// The profile gets the cookies that the download of the link sends for the page that asked, and no
// other. The store takes them in order; the mark set last says when all are in.
void RenderRun::seedCookies()
{
    QList<QNetworkCookie> cookies;
    if (m_session.cookies)
        cookies = m_session.cookies->cookiesForRequest(m_link, m_request.initiator, m_request.userActivated);
    if (cookies.isEmpty()) {
        loadLink();
        return;
    }
    QWebEngineCookieStore *store = m_profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        if (cookie.name() != seedMarkName.toLatin1() || m_ended)
            return;
        m_profile->cookieStore()->disconnect(this);
        loadLink();
    });
    for (QNetworkCookie cookie : cookies) {
        // A cookie of the host alone stays one: a Domain attribute would give it to every name under it.
        if (!cookie.domain().startsWith(u'.'))
            cookie.setDomain(QString());
        store->setCookie(cookie, m_link);
    }
    store->setCookie(QNetworkCookie(seedMarkName.toLatin1(), "1"), seedMarkOrigin);
}

// Every host admitted so far, by its scheme and any port; what pages make of their own content; and the
// page's own scripts and styles, written into it or not.
QString RenderRun::policy() const
{
    if (m_request.privateNetworkAllowed)
        return {};
    QStringList hosts(m_policyHosts.cbegin(), m_policyHosts.cend());
    hosts.sort();
    QString sources;
    for (const QString &host : std::as_const(hosts))
        sources += u" http://"_s + host + u":* https://"_s + host + u":*"_s;
    return u"default-src"_s + sources + u" data: blob: 'unsafe-inline' 'unsafe-eval'"_s;
}

// The guard goes into each document the page makes from now on, with the hosts admitted by now.
void RenderRun::installGuard()
{
    m_policyHosts.clear();
    QSet<QString> hosts = m_ownHosts;
    for (const QString &host : m_loader.hostsOutside())
        hosts.insert(host);
    for (const QString &host : std::as_const(hosts)) {
        if (isPolicyHost(host) && hostAdmission(host) == RequestAdmission::Allowed)
            m_policyHosts.insert(host);
    }
    QWebEngineScriptCollection &scripts = m_page->scripts();
    for (const QWebEngineScript &old : scripts.find(u"quillory-guard"_s))
        scripts.remove(old);
    QWebEngineScript guard;
    guard.setName(u"quillory-guard"_s);
    guard.setSourceCode(guardWith(policy(), m_reportMark));
    guard.setWorldId(QWebEngineScript::MainWorld);
    guard.setInjectionPoint(QWebEngineScript::DocumentCreation);
    guard.setRunsOnSubFrames(true);
    scripts.insert(guard);
}

// The page is to be loaded again, once every name being looked up is known. Not from inside the engine's
// call; the others the page is refused by now come first.
void RenderRun::dueAgain()
{
    m_relearnDue = true;
    QTimer::singleShot(0, this, [this] {
        if (!m_ended && m_learning.isEmpty())
            allHostsKnown();
    });
}

// The policy refused an address: one the rule admits once its host is known is admitted for the next
// load, like a request the interceptor refused for want of knowing its host.
void RenderRun::policyRefused(const QUrl &url)
{
    if (m_ended || m_priming || !isWebUrl(url))
        return;
    const QString host = networkHost(url);
    if (!isPolicyHost(host))
        return;
    if (m_policyHosts.contains(host))
        return; // the document came with the host admitted: refused for a reason of the page's own
    switch (admission(url)) {
    case RequestAdmission::Allowed:
        m_ownHosts.insert(host);
        dueAgain();
        return;
    case RequestAdmission::Unknown:
        requestBlocked(url, false, RequestAdmission::Unknown);
        return;
    case RequestAdmission::Refused:
        return;
    }
}

void RenderRun::loadLink()
{
    installGuard();
    m_ownLoadPending = true;
    m_target = m_link;
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
    if (m_priming)
        return isMainFrame && url.scheme() == u"data"_s;
    if (!isMainFrame) {
        // A frame may hold what the page makes of its own content too. Its address, and each of its
        // redirects, keeps to the private-network rule before anything is sent.
        if (!isFrameScheme(url))
            return false;
        switch (admission(url)) {
        case RequestAdmission::Allowed:
            return true;
        case RequestAdmission::Refused:
            return false;
        case RequestAdmission::Unknown:
            requestBlocked(url, false, RequestAdmission::Unknown);
            return false;
        }
        return false;
    }
    if (m_ownLoadPending && type == QWebEnginePage::NavigationTypeTyped && url == m_link) {
        m_ownLoadPending = false;
        return admit(url);
    }
    // The engine calls a server's redirect a redirect, but also a navigation that a page's script starts
    // while the page loads. Only before the navigation under way has become a document is it the server's.
    if (type == QWebEnginePage::NavigationTypeRedirect && !m_committed) {
        if (const QString why = redirectRefusal(m_target, url, m_request.privateNetworkAllowed);
            !why.isEmpty())
            return refuse(why + url.toString());
        switch (admission(url)) {
        case RequestAdmission::Allowed:
            if (!m_policyHosts.contains(networkHost(url))) {
                m_ownHosts.insert(networkHost(url));
                installGuard();
            }
            return follow(url);
        case RequestAdmission::Refused:
            return refuse(u"redirect into this machine or a private network refused: "_s + url.toString());
        case RequestAdmission::Unknown:
            requestBlocked(url, true, RequestAdmission::Unknown);
            return false;
        }
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
    m_changesRead = -1;
    m_lastRead.clear();
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
    if (message.startsWith(m_reportMark + u' ')) {
        policyRefused(QUrl(message.mid(m_reportMark.size() + 1)));
        return;
    }
    if (message == m_commitMark && !m_priming) {
        m_committed = true;
        m_stoppedLoad.stop();
        m_pollTimer.start(); // the document can be read from now on, once it has been parsed
    }
}

void RenderRun::downloadRequested(QWebEngineDownloadRequest *download)
{
    const QUrl url = download->url();
    download->cancel();
    // The link itself (or where it led) is a file: there will be no page. A file that a page's script
    // asks for is refused, and the page goes on.
    if (!m_loaded && withoutFragment(url) == withoutFragment(m_target))
        end(RenderedPage::Status::Failed, u"the link is a file to download, not a page: "_s + url.toString());
}

void RenderRun::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (m_ended || m_priming || info.url().scheme() == u"data"_s)
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
    if (m_mainFrameWaits)
        return; // refused until its host is known; loaded again then
    if (m_committed && info.status() == QWebEngineLoadingInfo::LoadStoppedStatus) {
        loaded(); // the page stopped its own load: what it has is its document
        return;
    }
    if (info.errorCode() == abortedLoadCode) {
        m_stoppedLoad.start(); // a download, a replacement, or nothing: see downloadRequested
        return;
    }
    end(RenderedPage::Status::Failed, info.errorString() + u": "_s + info.url().toString());
}

void RenderRun::loaded()
{
    m_committed = true;
    m_loaded = true;
    becameActive();
    m_stoppedLoad.stop();
    if (!m_pollTimer.isActive())
        m_pollTimer.start();
    if (m_changesRead >= 0 && !m_reading)
        sayStillLoading(); // read once parsed, and not holding it
    poll();
}

void RenderRun::sayStillLoading()
{
    if (m_saidStillLoading)
        return;
    m_saidStillLoading = true;
    Q_EMIT m_loader.stillLoading();
}

// The document is read whenever it has changed since the last read, until it holds what is asked for.
void RenderRun::poll()
{
    if (m_polling || m_reading || !m_committed || !m_page)
        return;
    m_polling = true;
    const quint64 document = m_document;
    m_page->runJavaScript(u"(p => p === undefined ? -1 : p.changes())("_s + apiOfDocument + u')',
                          QWebEngineScript::ApplicationWorld,
                          [run = QPointer<RenderRun>(this), document](const QVariant &result) {
                              if (!run || run->m_ended)
                                  return;
                              run->m_polling = false;
                              if (document != run->m_document)
                                  return;
                              // A document without the script (an error page) has nothing to wait for.
                              const double changes = result.toDouble();
                              if (changes == 0)
                                  return;
                              if (changes != run->m_changesRead) {
                                  run->m_changesRead = changes;
                                  run->becameActive();
                                  run->read(false);
                                  return;
                              }
                              // Loaded, read, and since then no request, no change, nothing to learn: for
                              // a while, and for as many answers of the page's as the poll gives in that
                              // while on a machine with time to spare. A busy machine answers more slowly
                              // and so waits longer for the page's work to show.
                              ++run->m_quietPolls;
                              if (run->m_loaded && !run->m_lastRead.isEmpty() && run->m_learning.isEmpty() &&
                                  !run->m_relearnDue &&
                                  run->m_clock.elapsed() - run->m_activeAtMs >=
                                      run->m_limits.idleFor.count() &&
                                  run->m_quietPolls >= run->m_limits.idleFor / pollInterval)
                                  run->finishWithText(run->m_lastRead, false);
                          });
}

void RenderRun::read(bool atLimit)
{
    m_reading = true;
    const quint64 document = m_document;
    m_page->runJavaScript(scriptWithMark(QString()) + u"\n"_s + apiOfDocument + u".view()"_s,
                          QWebEngineScript::ApplicationWorld,
                          [run = QPointer<RenderRun>(this), document, atLimit](const QVariant &result) {
                              if (!run || run->m_ended)
                                  return;
                              run->m_reading = false;
                              if (document != run->m_document && !atLimit)
                                  return; // replaced meanwhile: the new document gets its own reads
                              const std::optional<QString> read = viewOf(result);
                              if (!read) {
                                  if (atLimit)
                                      run->end(RenderedPage::Status::Failed,
                                               u"the page's document could not be read: "_s +
                                                   run->m_target.toString());
                                  return;
                              }
                              const QString &text = *read;
                              if (run->m_request.holds(text)) {
                                  run->finishWithText(text, true);
                                  return;
                              }
                              if (atLimit) {
                                  run->finishWithText(text, false);
                                  return;
                              }
                              run->m_lastRead = text;
                              if (run->m_loaded)
                                  run->sayStillLoading();
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
    page.relearned = m_relearned;
    page.elapsed = std::chrono::milliseconds(m_clock.isValid() ? m_clock.elapsed() : 0);
    m_pollTimer.stop();
    m_readAtLimit.stop();
    m_deadline.stop();
    m_stoppedLoad.stop();
    if (m_page)
        m_page->disconnect(this); // its last words go unheard; it is deleted with the run
    if (m_profile)
        m_profile->disconnect(this);
    // Later, and only while the caller's context lives: never from inside the engine's call into the
    // page, and never into a caller that has gone.
    QObject *receiver = m_hasContext ? m_context.data() : parent();
    if (receiver)
        QTimer::singleShot(0, receiver, [done = std::move(m_done), page] { done(page); });
    deleteLater(); // the page and the profile go with it
}

RenderedPageLoader::RenderedPageLoader(QWebEngineProfile *pane, RenderSession session, RenderLimits limits,
                                       QObject *parent)
    : QObject(parent), m_pane(pane), m_session(session), m_limits(limits)
{
    if (!m_session.resolver)
        m_session.resolver = &HostResolver::system();
    if (!m_session.clock)
        m_session.clock = &Clock::steady();
}

RenderedPageLoader::~RenderedPageLoader()
{
    // The runs first: their pages call into them.
    const QList<RenderRun *> runs = findChildren<RenderRun *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(runs);
}

void RenderedPageLoader::load(RenderRequest request, QObject *context,
                              std::function<void(const RenderedPage &)> done)
{
    cancel();
    m_run = new RenderRun(*this, m_pane, m_session, m_limits, std::move(request), context, std::move(done));
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

RenderedPageLoader::HostPlace RenderedPageLoader::placeOf(const QString &host) const
{
    const auto known = m_places.constFind(host);
    if (known == m_places.cend() || m_session.clock->now() - known->at >= placeKeptFor)
        return HostPlace::Unknown;
    return known->place;
}

QStringList RenderedPageLoader::hostsOutside() const
{
    QList<std::pair<std::chrono::milliseconds, QString>> known;
    for (auto place = m_places.cbegin(); place != m_places.cend(); ++place) {
        if (place->place == HostPlace::Outside && m_session.clock->now() - place->at < placeKeptFor)
            known.append({place->at, place.key()});
    }
    // The latest learned: those that pages asked for lately.
    std::sort(known.begin(), known.end(), std::greater<>());
    QStringList hosts;
    for (qsizetype i = 0; i < std::min(known.size(), maxPolicyHosts); ++i)
        hosts << known.at(i).second;
    return hosts;
}

void RenderedPageLoader::learn(const QString &host, QObject *context, std::function<void()> done)
{
    if (placeOf(host) != HostPlace::Unknown) {
        QTimer::singleShot(0, context, std::move(done));
        return;
    }
    auto &waiting = m_lookups[host];
    waiting.append({context, std::move(done)});
    if (waiting.size() > 1)
        return; // asked already
    m_session.resolver->lookUp(host, this, [this, host](const QList<QHostAddress> &addresses) {
        // A name the resolver does not know is left to the network to find, as for the downloads.
        const bool inside = std::any_of(addresses.cbegin(), addresses.cend(), isPrivateNetworkAddress);
        if (m_places.size() >= maxPlacesKept)
            m_places.clear();
        m_places.insert(host, {inside ? HostPlace::Inside : HostPlace::Outside, m_session.clock->now()});
        const auto waiters = m_lookups.take(host);
        for (const auto &[context, done] : waiters) {
            if (context)
                done();
        }
    });
}

} // namespace Quillory
