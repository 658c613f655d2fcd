#pragma once

#include "httpfixture.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

// The trial site and the product site for the browser tests, both served by one loopback server that
// the engine and the downloader reach as their HTTP proxy, so the window keeps its built-in hosts.
namespace Quillory::Testing::TrialSiteFixture {

inline const QString trialItemUrl = QStringLiteral("http://try.taobao.com/item.htm?id=1001");
inline const QString productUrl = QStringLiteral("http://item.taobao.com/item.htm?id=2002");
inline const QString helpText = QStringLiteral("快捷键：答题Alt+z后退Alt+x查看答案Alt+c，祝好运气！");

// Starts the server and points the proxy environment at it; call before the engine starts.
void startProxy();
HttpFixture &proxy();

void clearPages();
void servePage(const QString &url, const HttpReply &reply);
void servePage(const QString &url, const QString &html, std::chrono::milliseconds delay = {});
// A page whose reply depends on the request (its headers, say).
void servePage(const QString &url, std::function<HttpReply(const HttpRequest &)> reply);
int requestsFor(const QString &url);

// A trial item page with the question, one "找答案" link per entry of `answerLinks`, the answer field
// and a script that records the input and change events the field sees.
QString trialPage(const QString &question, const QStringList &answerLinks = {productUrl},
                  const QString &extra = {});
QString brandQuestion(); // asks for "品牌" between lower-case em tags in the source
// A product page whose attribute list gives "品牌" the raw value `listValue`.
QString productPage(const QString &listValue);

} // namespace Quillory::Testing::TrialSiteFixture
