#include "passstatus.h"

#include "trialsite.h"

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

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

QString networkCause(const PassReport::Download &download)
{
    using Cause = DownloadResult::Cause;
    switch (download.networkCause) {
    case Cause::ConnectionRefused:
        return u"服务器拒绝了连接"_s;
    case Cause::HostNotFound:
        return u"找不到这个服务器"_s;
    case Cause::RemoteClosed:
        return u"服务器中途断开了连接"_s;
    case Cause::SecureConnection:
        return u"安全连接没有建立起来"_s;
    case Cause::Proxy:
        return u"代理服务器连接不上"_s;
    case Cause::None:
        // Our own checks: a reply cut short after it began, or a link that is no address at all.
        return download.httpStatus != 0 ? u"连接中途断开，页面没有下载完"_s : u"“找答案”链接不是有效的网址"_s;
    case Cause::Other:
        break;
    }
    return u"网络出错：%1"_s.arg(quoted(download.errorText)); // Qt's text, which may name the link
}

// Why the product page is not there, or an empty text when it downloaded whole.
QString downloadProblem(const PassReport::Download &download)
{
    using Status = DownloadResult::Status;
    switch (download.status) {
    case Status::Ok:
        if (download.httpStatus >= 400)
            return u"商品页打不开：服务器回答 HTTP %1。"_s.arg(download.httpStatus);
        return {};
    case Status::UnsupportedScheme:
        return u"“找答案”链接不是网页链接（http 或 https），没有下载。"_s;
    case Status::TimedOut:
        return u"商品页下载失败：等了 %1 秒，服务器没有回应。"_s.arg((download.elapsedMs + 500) / 1000);
    case Status::TooLarge:
        return u"商品页下载失败：页面太大。"_s;
    case Status::Cancelled:
        return u"商品页的下载已取消。"_s;
    case Status::NetworkError:
        break;
    }
    if (download.refused) {
        // The link itself, or a redirect it led to (which came with an HTTP status).
        return download.httpStatus != 0
                   ? u"“找答案”链接转到了不允许的地址（本机或内部网络、非网页地址，或转了太多次），没有下载。"_s
                   : u"“找答案”链接指向本机或内部网络，不允许下载。"_s;
    }
    return u"商品页下载失败：%1。"_s.arg(networkCause(download));
}

QString lookupOutcome(const PassReport &report)
{
    const QString attribute = quoted(report.attribute);
    const QString value = quoted(report.answer);
    // The page as the browser shows it, when the served one lacked the attribute.
    const bool rendered = report.download && report.download->rendered;
    const QString page = rendered ? u"浏览器显示的商品页"_s : u"商品页"_s;
    switch (report.source.value_or(AnswerSource::NoTable)) {
    case AnswerSource::List:
        return u"已答题：%1 是 %2（来自%3的属性列表）。"_s.arg(attribute, value, page);
    case AnswerSource::Table:
        return u"已答题：%1 是 %2（来自%3的规格参数表）。"_s.arg(attribute, value, page);
    case AnswerSource::ListNameOnly:
        return u"已答题：%1 在属性列表里没有结束标记，只填了名称 %2。"_s.arg(attribute, value);
    case AnswerSource::TableNameOnly:
        return u"已答题：%1 在规格参数表里没有结束标记，只填了名称 %2。"_s.arg(attribute, value);
    case AnswerSource::TableMiss:
    case AnswerSource::NoTable:
        break;
    }
    return u"%1上没有找到 %2。如果商品页要登录才看得全，请先在下面的网页里登录。"_s.arg(page, attribute);
}

QString questionOutcome(const PassReport &report)
{
    if (!report.question)
        return u"本页没有属性问题，答案是“%1”。"_s.arg(TrialSite::reportAnswer);
    if (report.answerLink.isEmpty()) {
        // Without the link the question's cut has no end either: the attribute is rarely known.
        return report.attribute.isEmpty()
                   ? u"本页没有“找答案”链接，无法查找答案。"_s
                   : u"本页没有“找答案”链接，无法查找 %1。"_s.arg(quoted(report.attribute));
    }
    if (report.download) {
        const QString problem = downloadProblem(*report.download);
        if (!problem.isEmpty())
            return problem;
    }
    return lookupOutcome(report);
}

QString fieldOutcome(FieldWrite field)
{
    switch (field) {
    case FieldWrite::Written:
        return u"已填入答案框。"_s;
    case FieldWrite::NoField:
        return u"但本页没有答案框，没有填写。"_s;
    case FieldWrite::PageLeft:
        return u"但网页已经换了，没有填写。"_s;
    case FieldWrite::NoDocument:
        return u"但网页里没有可填写的文档，没有填写。"_s;
    case FieldWrite::NoAnswer:
        return u"但网页没有响应，没有填写。"_s;
    case FieldWrite::KeptEdit:
        return u"答案框里是你自己改过的答案，自动答题没有覆盖它。"_s;
    }
    return {};
}

} // namespace

QString passStatusText(const PassReport &report)
{
    if (!report.trialItemPage)
        return u"这不是试用商品页，没有答题。"_s;
    if (report.pageNotResponding)
        return u"网页还没读完就被停止或离开了，没有答题。可以重新打开这一页再答题。"_s;
    if (report.cancelled)
        return u"已取消答题，答案框保持原样。"_s;
    QString text = questionOutcome(report);
    if (report.field)
        text += u' ' + fieldOutcome(*report.field);
    return text;
}

QString waitingStatusText(qint64 secondsWaited, bool stillLoading)
{
    if (stillLoading)
        return u"商品页还在加载，等它显示出属性表，已等 %1 秒…（按 Esc 或点这里取消）"_s.arg(secondsWaited);
    return u"正在下载商品页，已等 %1 秒…（按 Esc 或点这里取消）"_s.arg(secondsWaited);
}

} // namespace Quillory
