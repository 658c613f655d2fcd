#include "corebench.h"

#include "answer/attributelookup.h"
#include "httpfixture.h"
#include "pagetext/cookiejar.h"
#include "pagetext/pagedownloader.h"
#include "pagetext/zhuanzi.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkCookie>

#include <cstdio>
#include <functional>

namespace Quillory::Bench {

namespace {

constexpr qsizetype MiB = 1024 * 1024;

// Keeps results alive so that the work is not optimised away.
volatile qsizetype g_sink = 0;

// `bytes` of UTF-16 text made of five-digit decimal references after a leading "&nbsp;", as a
// value cut from a product page is written, only far longer.
QString referenceDenseText(qsizetype bytes)
{
    const QString unit = QStringLiteral("&#38271;&#26149;&#20013;&#22269;&#21513;&#26519;&#32418;&#33394;");
    QString text = QStringLiteral("&nbsp;");
    text.reserve(bytes / 2 + unit.size());
    while (text.size() * 2 < bytes)
        text += unit;
    text.truncate(bytes / 2);
    return text;
}

void benchZhuanzi(BenchTable &table)
{
    table.addSection(QStringLiteral("zhuanzi (decimal references to characters), UTF-16 input"));
    double baseRate = 0;
    for (const auto &[mib, runs] : {std::pair{1, 51}, std::pair{16, 11}, std::pair{64, 7}}) {
        const QString input = referenceDenseText(mib * MiB);
        const double seconds =
            BenchTable::medianSeconds(runs, [&] { g_sink = g_sink + zhuanzi(input).size(); });
        const double rate = mib / seconds;
        if (baseRate == 0)
            baseRate = rate;
        const QString note =
            mib == 1 ? QStringLiteral("median of %1 runs").arg(runs)
                     : QStringLiteral("x%1 of the 1 MiB rate (linear: about 1); median of %2 runs")
                           .arg(rate / baseRate, 0, 'f', 2)
                           .arg(runs);
        table.add(QStringLiteral("zhuanzi, %1 MiB").arg(mib), rate, QStringLiteral("MiB/s"), note);
    }
}

// A product page of about `bytes` in GBK: the attribute list near the top, the description
// placeholder, a long description, then the packaging-and-parameters table and the promotional note
// at the very end, so that a lookup answered from the table searches the whole page.
QByteArray productPage(qsizetype bytes)
{
    QString head =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"gbk\"><title>宝贝详情</title></head><body>"
                       "<div id=\"attributes\"><ul class=\"attributes-list\">");
    const QString names[] = {QStringLiteral("品牌"), QStringLiteral("型号"),     QStringLiteral("颜色分类"),
                             QStringLiteral("货号"), QStringLiteral("适用季节"), QStringLiteral("上市时间"),
                             QStringLiteral("材质"), QStringLiteral("尺码")};
    for (const QString &name : names)
        head += QStringLiteral("<li title=\"&nbsp;&#38271;&#26149;\">") + name +
                QStringLiteral(":&nbsp;&#38271;&#26149;</li>");
    head += QStringLiteral("</ul></div><div id=\"description\">描述加载中</div>");
    const QString tail =
        QStringLiteral("<div id=\"J_Params\"><h4>包装和参数</h4><table>"
                       "<tr><th>产地</th><td>&nbsp;&#20013;&#22269;&#21513;&#26519;</td></tr>"
                       "<tr><th>保质期</th><td>&nbsp;365天</td></tr></table>"
                       "<p>拍下价格的不同可能会由于促销和打折引起的</p></div></body></html>");
    const QString block = QStringLiteral(
        "<div class=\"desc\">"
        "<p>这款产品采用优质材料制作，做工精细，经久耐用。&#36136;&#37327;可靠，售后无忧。</p>"
        "<img src=\"//img.alicdn.example/imgextra/i1/0000/TB1.jpg\" width=\"750\" alt=\"细节图\"></div>\n");
    using Quillory::Testing::gbk;
    QByteArray page = gbk(head);
    const QByteArray tailBytes = gbk(tail);
    const QByteArray blockBytes = gbk(block);
    page.reserve(bytes + blockBytes.size());
    while (page.size() + tailBytes.size() < bytes)
        page += blockBytes;
    page += tailBytes;
    return page;
}

void benchLookup(BenchTable &table)
{
    using namespace Quillory::Testing;
    table.addSection(QStringLiteral(
        "Lookup vs bare download (GBK, charset in the header, loopback fixture in its own thread)"));

    QByteArray page;
    HttpFixture server([&page](const HttpRequest &) { return HttpReply::html(page, "GBK"); });
    if (!server.startInThread()) {
        std::fprintf(stderr, "could not start the loopback server\n");
        return;
    }
    const PageDownloader Inet1; // the window's limits
    const QString url = server.url(u"/item.htm?id=520").toString();

    for (const auto &[mib, runs] : {std::pair{1, 41}, std::pair{4, 21}, std::pair{8, 11}}) {
        page = productPage(mib * MiB);
        // Sanity: both answers are what the page says.
        QString check = QStringLiteral("产地");
        QString listCheck = QStringLiteral("品牌");
        if (chasuxing(Inet1, url, check) != QStringLiteral("中国吉林") ||
            chasuxing(Inet1, url, listCheck) != QStringLiteral("长春")) {
            std::fprintf(stderr, "the lookup did not find the page's values\n");
            return;
        }
        // Interleaved, and in a rotating order, so that drift in the machine's speed and whatever the
        // previous call leaves behind (freed buffers, connections closing) hit all four alike.
        DownloadRequest bytesRequest;
        bytesRequest.url = QUrl(url);
        bytesRequest.decodeText = false;
        QList<double> bytesOnly, openUrl, fromTable, fromList;
        const std::function<void()> measures[] = {
            [&] { g_sink = g_sink + Inet1.fetch(bytesRequest).body.size(); },
            [&] { g_sink = g_sink + Inet1.OpenURL(url).value_or(QString()).size(); },
            [&] {
                QString name = QStringLiteral("产地");
                g_sink = g_sink + chasuxing(Inet1, url, name).size();
            },
            [&] {
                QString name = QStringLiteral("品牌");
                g_sink = g_sink + chasuxing(Inet1, url, name).size();
            },
        };
        QList<double> *const figures[] = {&bytesOnly, &openUrl, &fromTable, &fromList};
        QElapsedTimer timer;
        for (int i = 0; i < runs; ++i) {
            for (int k = 0; k < 4; ++k) {
                const int which = (i + k) % 4;
                timer.start();
                measures[which]();
                figures[which]->append(timer.nsecsElapsed() / 1e6);
            }
        }
        const double bare = BenchTable::median(openUrl);
        const double tableMs = BenchTable::median(fromTable);
        const double listMs = BenchTable::median(fromList);
        const QString size = QStringLiteral("%1 MiB page").arg(mib);
        const QString medianOf = QStringLiteral("median of %1 runs").arg(runs);
        table.add(QStringLiteral("OpenURL (bare download, decoded), ") + size, bare, QStringLiteral("ms"),
                  QStringLiteral("%1 MiB/s; ").arg(mib * 1000.0 / bare, 0, 'f', 0) + medianOf);
        table.add(QStringLiteral("chasuxing, value in the table, ") + size, tableMs, QStringLiteral("ms"),
                  QStringLiteral("ratio %1 to OpenURL (goal < 1.2)").arg(tableMs / bare, 0, 'f', 3));
        table.add(QStringLiteral("chasuxing, value in the list, ") + size, listMs, QStringLiteral("ms"),
                  QStringLiteral("ratio %1 to OpenURL (goal < 1.2)").arg(listMs / bare, 0, 'f', 3));
        table.add(QStringLiteral("  for scale: the bytes alone (no decoding), ") + size,
                  BenchTable::median(bytesOnly), QStringLiteral("ms"));
        // Where the time goes, without the network.
        const QString text = decodePageBody(page, QByteArrayLiteral("text/html; charset=GBK"));
        table.add(QStringLiteral("  for scale: decodePageBody alone, ") + size,
                  BenchTable::medianSeconds(
                      runs,
                      [&] {
                          g_sink = g_sink +
                                   decodePageBody(page, QByteArrayLiteral("text/html; charset=GBK")).size();
                      }) *
                      1000,
                  QStringLiteral("ms"));
        const double cutMs = BenchTable::medianSeconds(runs,
                                                       [&] {
                                                           QString name = QStringLiteral("产地");
                                                           g_sink =
                                                               g_sink + lookUpAttribute(text, name).size();
                                                       }) *
                             1000;
        // The lookup adds exactly this to the download; quieter than the difference of two loopback medians.
        table.add(QStringLiteral("  for scale: lookUpAttribute alone, value in the table, ") + size, cutMs,
                  QStringLiteral("ms"),
                  QStringLiteral("ratio %1 from the parts: (OpenURL + this) / OpenURL")
                      .arg((bare + cutMs) / bare, 0, 'f', 3));
    }
}

// The product download in the pane's session (its user agent and a jar of 60 cookies, 20 of them for
// the product site) against one without, alternating, on a small page: what the session costs a pass.
void benchSession(BenchTable &table)
{
    table.addSection(QStringLiteral("Product download in the pane's session (user agent, cookie jar)"));
    Testing::HttpFixture server([](const Testing::HttpRequest &) {
        return Testing::HttpReply::html(QByteArray("<ul class=\"attributes-list\"><li>x</li></ul>描述加载中"),
                                        "utf-8");
    });
    if (!server.startInThread())
        qFatal("cannot listen on 127.0.0.1");
    SharedCookieJar jar;
    for (int i = 0; i < 60; ++i) {
        QNetworkCookie cookie(QByteArray("c") + QByteArray::number(i), QByteArray(40, 'v'));
        cookie.setDomain(i % 3 == 0 ? QStringLiteral("127.0.0.1") : QStringLiteral(".example.org"));
        cookie.setPath(QStringLiteral("/"));
        jar.insertCookie(cookie);
    }
    const PageDownloader bare;
    const PageDownloader session(DownloadLimits(), BrowserSession{QByteArray(120, 'U'), &jar});
    const QString url = server.url(QStringLiteral("/item.htm")).toString();
    QNetworkAccessManager bareManager, sessionManager; // kept, as the window's download worker keeps one
    DownloadRequest request;
    request.url = QUrl(url);
    QList<double> without, with;
    QElapsedTimer timer;
    for (int i = 0; i < 101; ++i) {
        for (int k = 0; k < 2; ++k) {
            const bool inSession = (i + k) % 2 == 1;
            timer.start();
            g_sink = g_sink + (inSession ? session.fetch(request, {}, sessionManager)
                                         : bare.fetch(request, {}, bareManager))
                                  .text.size();
            (inSession ? with : without).append(timer.nsecsElapsed() / 1e6);
        }
    }
    const double bareMs = BenchTable::median(without);
    const double sessionMs = BenchTable::median(with);
    table.add(QStringLiteral("download without cookies or user agent"), bareMs, QStringLiteral("ms"),
              QStringLiteral("median of 101 runs"));
    table.add(QStringLiteral("download in the session (20 of 60 cookies sent)"), sessionMs,
              QStringLiteral("ms"), QStringLiteral("ratio %1").arg(sessionMs / bareMs, 0, 'f', 3));
}

} // namespace

void runCoreBenchmarks(BenchTable &table)
{
    benchZhuanzi(table);
    benchLookup(table);
    benchSession(table);
}

} // namespace Quillory::Bench
