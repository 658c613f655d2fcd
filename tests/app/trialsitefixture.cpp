#include "trialsitefixture.h"

#include <QHash>
#include <QMutex>

using namespace Qt::StringLiterals;

namespace Quillory::Testing::TrialSiteFixture {

namespace {

struct Site
{
    QMutex mutex;
    QHash<QString, HttpReply> pages; // by absolute URL
    QHash<QString, std::function<HttpReply(const HttpRequest &)>> dynamicPages;
};

Site &site()
{
    static Site instance;
    return instance;
}

HttpReply answer(const HttpRequest &request)
{
    QMutexLocker lock(&site().mutex);
    const QString url = request.url.toString();
    if (const auto dynamic = site().dynamicPages.constFind(url); dynamic != site().dynamicPages.cend())
        return (*dynamic)(request);
    return site().pages.value(url, HttpReply::html("<p>not here</p>", "utf-8", 404));
}

} // namespace

HttpFixture &proxy()
{
    static HttpFixture server(answer);
    return server;
}

void startProxy()
{
    if (!proxy().startInThread())
        qFatal("cannot listen on 127.0.0.1");
    // Both the engine and the downloader take the desktop's proxy from the environment.
    qputenv("http_proxy", proxy().proxyUrl().toLatin1());
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
}

void clearPages()
{
    QMutexLocker lock(&site().mutex);
    site().pages.clear();
    site().dynamicPages.clear();
    proxy().clearRequests();
}

void servePage(const QString &url, const HttpReply &reply)
{
    QMutexLocker lock(&site().mutex);
    site().dynamicPages.remove(url);
    site().pages.insert(url, reply);
}

void servePage(const QString &url, const QString &html, std::chrono::milliseconds delay)
{
    HttpReply reply = HttpReply::html(html.toUtf8(), "utf-8");
    reply.delay = delay;
    servePage(url, reply);
}

void servePage(const QString &url, std::function<HttpReply(const HttpRequest &)> reply)
{
    QMutexLocker lock(&site().mutex);
    site().pages.remove(url);
    site().dynamicPages.insert(url, std::move(reply));
}

int requestsFor(const QString &url)
{
    int count = 0;
    for (const HttpRequest &request : proxy().requests())
        count += request.url.toString() == url ? 1 : 0;
    return count;
}

QString trialPage(const QString &question, const QStringList &answerLinks, const QString &extra)
{
    QString links;
    for (const QString &href : answerLinks)
        links += u"<a href=\""_s + href + u"\">找答案</a> "_s;
    return u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>试用</title></head><body>"
           u"<div class=\"question\">"_s +
           question + u" "_s + links +
           u"</div><form onsubmit=\"window.submitted = true; return false\">"
           u"<input name=\"J_AnswerInput\" id=\"answer\"></form>"_s +
           extra +
           u"<script>const f = document.getElementById('answer'); window.events = [];"
           u"f.addEventListener('input', () => events.push('input'));"
           u"f.addEventListener('change', () => events.push('change'));</script></body></html>"_s;
}

QString brandQuestion()
{
    return u"属性描述：请问该商品的<em>品牌</em>是什么？"_s;
}

QString productPage(const QString &listValue)
{
    return u"<html><body><ul class=\"attributes-list\"><li title=\"x\">货号:&nbsp;A1</li>"
           u"<li title=\"y\">品牌:"_s +
           listValue + u"</li></ul><div>描述加载中</div></body></html>"_s;
}

} // namespace Quillory::Testing::TrialSiteFixture
