#include "passstatus.h"

#include "attributelookup.h"
#include "trialsite.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// Every phrase the window says of a pass. A status is built of up to four of them, in this order: what
// was found or why nothing was (an answer's sentence opens with "已答题" only where the answer field was
// written), what the answer field now holds when that is not the answer, and what the user can do next.
// House rules, checked by the tests: full-width punctuation, no space after "。", the fixed texts of the
// trial site quoted exactly, a page's own texts in “” (quoted() below), and every text that reports a
// failure ends with a step the user can take in this window.
enum class Say
{
    NotTrialPage,
    PageNotResponding,
    Cancelled,
    PageStopped,
    PageAddress,
    Waiting,
    WaitingStillLoading,
    WaitingAnnounced,
    WaitingStillLoadingAnnounced,

    NoQuestionWritten,
    NoQuestion,
    AnsweredWritten,
    Answered,
    NameOnlyWritten,
    NameOnly,
    FromList,
    FromTable,

    NotFound,
    NoLink,
    NoLinkFor,
    NotOnPage,
    ServerError,
    PageMissing,
    Forbidden,
    TooManyRequests,
    HttpStatus,
    NotWebLink,
    TimedOut,
    TooLarge,
    DownloadCancelled,
    PrivateLink,
    RedirectRefused,
    ConnectionRefused,
    HostNotFound,
    RemoteClosed,
    SecureConnection,
    Proxy,
    CutShort,
    NotAnAddress,
    NetworkError,

    NoteInField,
    KeptEdit,
    KeptEditNote,
    NoField,
    PageLeft,
    NoDocument,
    NoAnswer,

    RetryNetwork,
    RetryLater,
    LookYourself,
    LogIn,
    TypeYourself,
    Count
};

struct Entry
{
    Say say;
    StatusWord word;
};

const QList<Entry> &table()
{
    static const QList<Entry> entries{
        // Passes that did nothing.
        {Say::NotTrialPage,
         {"not a trial item page", u"这不是试用商品页，没有答题。请打开要申请的试用商品页，再按 Alt+Z。"_s}},
        {Say::PageNotResponding,
         {"page stopped or left before it was read",
          u"网页还没读完就被停止或离开了，没有答题。可以重新打开这一页再答题。"_s}},
        {Say::Cancelled, {"cancelled by the user", u"已取消答题，答案框保持原样。"_s}},
        {Say::PageStopped,
         {"a page that did not respond, stopped", u"已停止这个网页。可以按“后退”回到上一页。"_s}},
        {Say::PageAddress, {"the page's address, while Alt is held", u"本页网址：%1"_s}},
        // The wait for the product page: shown with its seconds, told to a screen reader without them.
        {Say::Waiting,
         {"waiting for the product page", u"正在下载商品页，已等 %1 秒…（按 Esc 或点 × 取消）"_s}},
        {Say::WaitingStillLoading,
         {"waiting for the product page's scripts",
          u"商品页还在加载属性表，已等 %1 秒…（按 Esc 或点 × 取消）"_s}},
        {Say::WaitingAnnounced,
         {"waiting, as a screen reader is told", u"正在下载商品页…（按 Esc 可取消）"_s}},
        {Say::WaitingStillLoadingAnnounced,
         {"waiting for the scripts, as a screen reader is told",
          u"商品页还在加载属性表…（按 Esc 可取消）"_s}},

        // Answers. %1 the attribute, %2 the value, %3 where it came from.
        {Say::NoQuestionWritten,
         {"no question, answer written", u"已答题：本页没有属性问题，已填入“%1”。"_s}},
        {Say::NoQuestion, {"no question, answer not written", u"本页没有属性问题，答案是“%1”。"_s}},
        {Say::AnsweredWritten, {"answered, written", u"已答题：%1是%2（来自商品页的%3），已填入答案框。"_s}},
        {Say::Answered, {"answered, not written", u"找到答案：%1是%2（来自商品页的%3）。"_s}},
        {Say::NameOnlyWritten,
         {"only the name, written", u"已答题，请核对：商品页%3里的%1没有写完整，只填入了%2。"_s}},
        {Say::NameOnly,
         {"only the name, not written", u"答案不完整：商品页%3里的%1没有写完整，只找到%2。"_s}},
        {Say::FromList, {"the attribute list", u"属性列表"_s}},
        {Say::FromTable, {"the packaging-and-parameters table", u"规格参数表"_s}},

        // No answer: the lead, then why.
        {Say::NotFound, {"no answer found", u"没有找到答案："_s}},
        {Say::NoLink, {"no answer link", u"本页没有“找答案”链接。"_s}},
        {Say::NoLinkFor, {"no answer link, the attribute known", u"本页没有“找答案”链接，查不到%1。"_s}},
        {Say::NotOnPage, {"the attribute not on the product page", u"商品页上没有%1。"_s}},
        {Say::ServerError, {"HTTP 5xx", u"商品页的服务器出错（HTTP %1）。"_s}},
        {Say::PageMissing, {"HTTP 404, 410", u"商品页不存在（HTTP %1）。"_s}},
        {Say::Forbidden, {"HTTP 401, 403", u"服务器不让打开商品页（HTTP %1）。"_s}},
        {Say::TooManyRequests, {"HTTP 429", u"访问太频繁，服务器暂时不让打开商品页（HTTP %1）。"_s}},
        {Say::HttpStatus, {"another HTTP error", u"商品页打不开（HTTP %1）。"_s}},
        {Say::NotWebLink,
         {"link not http or https", u"“找答案”链接不是网页链接（http 或 https），没有下载。"_s}},
        {Say::TimedOut, {"no answer within the limit", u"等了 %1 秒，商品页的服务器没有回应。"_s}},
        {Say::TooLarge, {"too large", u"商品页太大，没有下载。"_s}},
        {Say::DownloadCancelled, {"download cancelled", u"商品页的下载被取消了。"_s}},
        {Say::PrivateLink,
         {"link into this machine or the local network",
          u"“找答案”链接指向本机或内部网络，为安全起见没有下载。"_s}},
        {Say::RedirectRefused,
         {"redirect refused",
          u"“找答案”链接转到了不允许的地址（本机或内部网络、非网页地址，或转了太多次），没有下载。"_s}},
        {Say::ConnectionRefused, {"connection refused", u"商品页下载失败，服务器拒绝了连接。"_s}},
        {Say::HostNotFound, {"host not found", u"商品页下载失败，找不到这个服务器。"_s}},
        {Say::RemoteClosed, {"server hung up", u"商品页下载失败，服务器中途断开了连接。"_s}},
        {Say::SecureConnection, {"TLS failed", u"商品页下载失败，安全连接没有建立起来。"_s}},
        {Say::Proxy, {"proxy unreachable", u"商品页下载失败，代理服务器连接不上。"_s}},
        {Say::CutShort, {"reply cut short", u"商品页没有下载完，连接中途断开了。"_s}},
        {Say::NotAnAddress, {"link no address", u"“找答案”链接不是有效的网址。"_s}},
        {Say::NetworkError, {"another network error", u"商品页下载失败，网络出错：%1。"_s}},

        // The answer field, when it does not hold the answer just found.
        {Say::NoteInField, {"the not-found note in the field", u"答案框里是提示语，不是答案，请勿提交。"_s}},
        {Say::KeptEdit,
         {"the user's own answer kept, after an answer",
          u"答案框里是你自己改过的内容，自动答题没有覆盖它；按 Alt+Z 可换成找到的答案。"_s}},
        {Say::KeptEditNote,
         {"the user's own answer kept, no answer", u"答案框里是你自己改过的内容，没有被覆盖。"_s}},
        {Say::NoField, {"no answer field", u"本页没有答案框，答案只在窗口上方的文本框里。"_s}},
        {Say::PageLeft, {"the pane moved on", u"网页已经换了，没有填写；答案在窗口上方的文本框里。"_s}},
        {Say::NoDocument, {"no document", u"网页里没有可以填写的内容，答案在窗口上方的文本框里。"_s}},
        {Say::NoAnswer,
         {"the page did not answer the write", u"网页没有响应，没有填写；答案在窗口上方的文本框里。"_s}},

        // What to do next.
        {Say::RetryNetwork, {"next: check the network", u"请检查网络和代理设置，稍后按 Alt+Z 重试。"_s}},
        {Say::RetryLater, {"next: try again later", u"请稍后按 Alt+Z 重试。"_s}},
        {Say::LookYourself,
         {"next: look at the product page",
          u"可点“查看答案”看商品页，自己填写；商品页要登录的，请先在本窗口登录淘宝。"_s}},
        {Say::LogIn, {"next: log in", u"请先在本窗口的网页里登录淘宝，再按 Alt+Z。"_s}},
        {Say::TypeYourself, {"next: type the answer", u"请自己填写答案。"_s}},
    };
    // Every phrase once, in the order of their names: a phrase missing here is a fault every test finds.
    static const bool complete = [] {
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (entries.at(i).say != Say(i))
                return false;
        }
        return entries.size() == qsizetype(Say::Count);
    }();
    if (!complete)
        qFatal("the status words' table lacks a phrase or holds one out of order");
    return entries;
}

QString say(Say what)
{
    return table().at(qsizetype(what)).word.words;
}

constexpr qsizetype kShownMax = 40;

// A page's text as the status shows it: on one line, in quotes, cut short when long, so that a page can
// neither fill the window nor pass its text off as ours.
QString quoted(const QString &text)
{
    QString line;
    for (const QChar c : text) {
        if (line.size() == kShownMax) {
            if (line.back().isHighSurrogate())
                line.chop(1); // never half a character
            line += u'…';
            break;
        }
        line += c.isPrint() ? c : QChar(u' ');
    }
    return u"“"_s + line + u"”"_s;
}

// Why there is no answer, and the step the user can take.
struct Failure
{
    QString why;
    Say next = Say::TypeYourself;
};

Failure networkFailure(const PassReport::Download &download)
{
    using Cause = DownloadResult::Cause;
    switch (download.networkCause) {
    case Cause::ConnectionRefused:
        return {say(Say::ConnectionRefused), Say::RetryNetwork};
    case Cause::HostNotFound:
        return {say(Say::HostNotFound), Say::RetryNetwork};
    case Cause::RemoteClosed:
        return {say(Say::RemoteClosed), Say::RetryLater};
    case Cause::SecureConnection:
        return {say(Say::SecureConnection), Say::RetryNetwork};
    case Cause::Proxy:
        return {say(Say::Proxy), Say::RetryNetwork};
    case Cause::None:
        // Our own checks: a reply cut short after it began, or a link that is no address at all.
        if (download.httpStatus != 0)
            return {say(Say::CutShort), Say::RetryLater};
        return {say(Say::NotAnAddress), Say::TypeYourself};
    case Cause::Other:
        break;
    }
    // Qt's text, which may name the link: quoted like a page's.
    return {say(Say::NetworkError).arg(quoted(download.errorText)), Say::RetryNetwork};
}

Failure httpFailure(int status)
{
    const QString code = QString::number(status);
    if (status >= 500)
        return {say(Say::ServerError).arg(code), Say::RetryLater};
    if (status == 404 || status == 410)
        return {say(Say::PageMissing).arg(code), Say::TypeYourself};
    if (status == 401 || status == 403)
        return {say(Say::Forbidden).arg(code), Say::LogIn};
    if (status == 429)
        return {say(Say::TooManyRequests).arg(code), Say::RetryLater};
    return {say(Say::HttpStatus).arg(code), Say::LookYourself};
}

// Why the product page is not there, or nothing when it downloaded whole.
std::optional<Failure> downloadFailure(const PassReport::Download &download)
{
    using Status = DownloadResult::Status;
    switch (download.status) {
    case Status::Ok:
        if (download.httpStatus >= 400)
            return httpFailure(download.httpStatus);
        return std::nullopt;
    case Status::UnsupportedScheme:
        return Failure{say(Say::NotWebLink), Say::TypeYourself};
    case Status::TimedOut:
        return Failure{say(Say::TimedOut).arg((download.elapsedMs + 500) / 1000), Say::RetryNetwork};
    case Status::TooLarge:
        return Failure{say(Say::TooLarge), Say::LookYourself};
    case Status::Cancelled:
        return Failure{say(Say::DownloadCancelled), Say::RetryLater};
    case Status::NetworkError:
        break;
    }
    if (download.refused) {
        // The link itself, or a redirect it led to (which came with an HTTP status).
        return Failure{say(download.httpStatus != 0 ? Say::RedirectRefused : Say::PrivateLink),
                       Say::TypeYourself};
    }
    return networkFailure(download);
}

// The answer field when it does not hold a value the pass found, or an empty text.
QString fieldBesideAnswer(FieldWrite field)
{
    switch (field) {
    case FieldWrite::Written:
        return {};
    case FieldWrite::KeptEdit:
        return say(Say::KeptEdit);
    case FieldWrite::NoField:
        return say(Say::NoField);
    case FieldWrite::PageLeft:
        return say(Say::PageLeft);
    case FieldWrite::NoDocument:
        return say(Say::NoDocument);
    case FieldWrite::NoAnswer:
        return say(Say::NoAnswer);
    }
    return {};
}

bool written(const PassReport &report)
{
    return report.field == FieldWrite::Written;
}

QString noQuestion(const PassReport &report)
{
    if (written(report))
        return say(Say::NoQuestionWritten).arg(TrialSite::reportAnswer);
    return say(Say::NoQuestion).arg(TrialSite::reportAnswer) +
           (report.field ? fieldBesideAnswer(*report.field) : QString());
}

// A value found on the product page.
QString answered(const PassReport &report, AnswerSource source)
{
    const bool nameOnly = source == AnswerSource::ListNameOnly || source == AnswerSource::TableNameOnly;
    const bool fromList = source == AnswerSource::List || source == AnswerSource::ListNameOnly;
    const QString where = say(fromList ? Say::FromList : Say::FromTable);
    const Say sentence = nameOnly ? (written(report) ? Say::NameOnlyWritten : Say::NameOnly)
                                  : (written(report) ? Say::AnsweredWritten : Say::Answered);
    // One pass of arg(): a page's text that holds "%1" stays as it is.
    QString text = say(sentence).arg(quoted(report.attribute), quoted(report.answer), where);
    if (report.field)
        text += fieldBesideAnswer(*report.field);
    return text;
}

// No value: the lead, why, what the field holds, what to do.
QString notFound(const PassReport &report, const Failure &failure)
{
    QString text = say(Say::NotFound) + failure.why;
    const bool noteInField = report.answer == LookupText::noTable || report.answer == LookupText::tableMiss;
    if (report.field == FieldWrite::Written && noteInField)
        text += say(Say::NoteInField);
    else if (report.field == FieldWrite::KeptEdit)
        text += say(Say::KeptEditNote);
    return text + say(failure.next);
}

} // namespace

const QList<StatusWord> &statusWords()
{
    static const QList<StatusWord> words = [] {
        QList<StatusWord> list;
        for (const Entry &entry : table())
            list.append(entry.word);
        return list;
    }();
    return words;
}

QString passStatusText(const PassReport &report)
{
    if (!report.trialItemPage)
        return say(Say::NotTrialPage);
    if (report.pageNotResponding)
        return say(Say::PageNotResponding);
    if (report.cancelled)
        return say(Say::Cancelled);
    if (!report.question)
        return noQuestion(report);
    if (report.answerLink.isEmpty()) {
        // Without the link the question's cut has no end either: the attribute is rarely known.
        return notFound(report,
                        {report.attribute.isEmpty() ? say(Say::NoLink)
                                                    : say(Say::NoLinkFor).arg(quoted(report.attribute)),
                         Say::TypeYourself});
    }
    if (report.download) {
        if (const std::optional<Failure> failure = downloadFailure(*report.download))
            return notFound(report, *failure);
    }
    const AnswerSource source = report.source.value_or(AnswerSource::NoTable);
    if (source == AnswerSource::TableMiss || source == AnswerSource::NoTable)
        return notFound(report, {say(Say::NotOnPage).arg(quoted(report.attribute)), Say::LookYourself});
    return answered(report, source);
}

QString waitingStatusText(qint64 secondsWaited, bool stillLoading)
{
    return say(stillLoading ? Say::WaitingStillLoading : Say::Waiting).arg(secondsWaited);
}

QString waitingAnnouncement(bool stillLoading)
{
    return say(stillLoading ? Say::WaitingStillLoadingAnnounced : Say::WaitingAnnounced);
}

QString pageStoppedText()
{
    return say(Say::PageStopped);
}

QString pageAddressText(const QString &address)
{
    return say(Say::PageAddress).arg(address);
}

} // namespace Quillory
