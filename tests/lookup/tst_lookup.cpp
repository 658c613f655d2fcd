// The lookup `chasuxing` against a product server on 127.0.0.1: the page is downloaded through
// `Inet1` (a PageDownloader), decoded, and the attribute cut out of it.

#include "answer/attributelookup.h"
#include "httpfixture.h"
#include "pagetext/pagedownloader.h"

#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace Quillory;
using namespace Quillory::Testing;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(Quillory::Testing::HttpReply)

namespace {

const QString tableMiss = QStringLiteral("未找到答案，淘宝太会藏了！！");
const QString noTable = QStringLiteral("未找到答案,不被淘宝藏到哪里去了！！");
const QString listEnd = QStringLiteral("描述加载中");
const QString tableNote = QStringLiteral("拍下价格的不同可能会由于促销和打折引起的");

QString listItem(const QString &name, const QString &value)
{
    return QStringLiteral("<li title=\"&nbsp;") + value + QStringLiteral("\">") + name +
           QStringLiteral(":&nbsp;") + value + QStringLiteral("</li>");
}

QString tableRow(const QString &name, const QString &value)
{
    return QStringLiteral("<tr><th>") + name + QStringLiteral("</th><td>&nbsp;") + value +
           QStringLiteral("</td></tr>");
}

QString listRegion(const QString &items)
{
    return QStringLiteral("<ul class=\"attributes-list\">") + items + QStringLiteral("</ul>");
}

QString tableRegion(const QString &rows)
{
    return QStringLiteral("<h4>包装和参数</h4><table>") + rows + QStringLiteral("</table>");
}

// A product page as the shop serves it: the attribute list, the description placeholder, the
// packaging-and-parameters table and the promotional note.
QString productPage(const QString &items, const QString &rows)
{
    return QStringLiteral("<div id=\"attributes\">") + listRegion(items) +
           QStringLiteral("</div><div id=\"description\">") + listEnd +
           QStringLiteral("</div><div id=\"J_Params\">") + tableRegion(rows) + QStringLiteral("<p>") +
           tableNote + QStringLiteral("</p></div>");
}

// "长春" written as the shop writes it: five-digit decimal references.
const QString changchunRefs = QStringLiteral("&#38271;&#26149;");
const QString changchun = QStringLiteral("长春");

QString html(const QString &body, const QString &head = {})
{
    return QStringLiteral("<!DOCTYPE html><html><head>") + head +
           QStringLiteral("<title>宝贝详情</title></head><body>") + body + QStringLiteral("</body></html>");
}

DownloadLimits shortLimits()
{
    DownloadLimits limits;
    limits.transferTimeout = 300ms;
    limits.totalTimeout = 5s;
    return limits;
}

} // namespace

class tst_Lookup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookup_data();
    void lookup();
    void charsets_data();
    void charsets();
    void errorStatusWithBody();
    void failedDownloads_data();
    void failedDownloads();
    void fileUrlReadsNoFile();
    void oversizedBody();
    void followsRedirect();
    void downloadsEveryTime();
    void cancelledFromAnotherThread();
};

void tst_Lookup::lookup_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("expected");

    const QString items = listItem(QStringLiteral("品牌"), changchunRefs) +
                          listItem(QStringLiteral("颜色分类"), QStringLiteral("&#32418;&#33394;")) +
                          listItem(QStringLiteral("货号"), QStringLiteral("A-1024"));
    const QString rows =
        tableRow(QStringLiteral("品牌"), QStringLiteral("&#21513;&#26519;")) // 吉林: never wins over the list
        + tableRow(QStringLiteral("产地"), QStringLiteral("&#20013;&#22269;")) +
        tableRow(QStringLiteral("保质期"), QStringLiteral("365天"));
    const QString page = productPage(items, rows);

    QTest::newRow("a value from the list") << page << QStringLiteral("品牌") << changchun;
    QTest::newRow("another value from the list")
        << page << QStringLiteral("颜色分类") << QStringLiteral("红色");
    QTest::newRow("a plain value from the list")
        << page << QStringLiteral("货号") << QStringLiteral("A-1024");
    QTest::newRow("a value from the table") << page << QStringLiteral("产地") << QStringLiteral("中国");
    QTest::newRow("a plain value from the table")
        << page << QStringLiteral("保质期") << QStringLiteral("365天");
    QTest::newRow("the list preferred over the table") << page << QStringLiteral("品牌") << changchun;

    // Every row of the lookup's failure table (the failed download is in failedDownloads).
    const QString tableOnly = tableRegion(tableRow(QStringLiteral("品牌"), changchunRefs)) + tableNote;
    QTest::newRow("list start marker missing: the table")
        << QStringLiteral("<ul class=\"attrs\">") + listItem(QStringLiteral("品牌"), QStringLiteral("X")) +
               QStringLiteral("</ul>") + listEnd + tableOnly
        << QStringLiteral("品牌") << changchun;
    QTest::newRow("list end marker missing: the table")
        << listRegion(listItem(QStringLiteral("品牌"), QStringLiteral("X"))) + tableOnly
        << QStringLiteral("品牌") << changchun;
    QTest::newRow("list end marker before the start marker: the table")
        << listEnd + listRegion(listItem(QStringLiteral("品牌"), QStringLiteral("X"))) + tableOnly
        << QStringLiteral("品牌") << changchun;
    QTest::newRow("name in the list, no </li> after it: the name")
        << QStringLiteral("<ul class=\"attributes-list\"><li>品牌:&nbsp;") + changchunRefs +
               QStringLiteral("</ul>") + listEnd + tableOnly
        << QStringLiteral("品牌") << QStringLiteral("品牌");
    QTest::newRow("name not in the list, no table marker: no-table text")
        << listRegion(listItem(QStringLiteral("品牌"), changchunRefs)) + listEnd << QStringLiteral("产地")
        << noTable;
    QTest::newRow("table marker, promotional note missing: table-miss text")
        << listRegion(QString()) + listEnd +
               tableRegion(tableRow(QStringLiteral("产地"), QStringLiteral("中国")))
        << QStringLiteral("产地") << tableMiss;
    QTest::newRow("promotional note before the table marker: table-miss text")
        << tableNote + tableRegion(tableRow(QStringLiteral("产地"), QStringLiteral("中国"))) + tableNote
        << QStringLiteral("产地") << tableMiss;
    QTest::newRow("name in the table, no </td> after it: the name")
        << tableRegion(QStringLiteral("<tr><th>产地</th><td>&nbsp;中国</tr>")) + tableNote
        << QStringLiteral("产地") << QStringLiteral("产地");
    QTest::newRow("name not in the table: table-miss text") << page << QStringLiteral("净含量") << tableMiss;
    QTest::newRow("name only outside both regions: not found")
        << QStringLiteral("<p>净含量:500g</p>") + page << QStringLiteral("净含量") << tableMiss;

    // The first occurrence decides.
    QTest::newRow("first occurrence inside a longer name")
        << productPage(listItem(QStringLiteral("主品牌"), QStringLiteral("&#21513;&#26519;")) +
                           listItem(QStringLiteral("品牌"), changchunRefs),
                       QString())
        << QStringLiteral("品牌") << QStringLiteral("吉林");
    QTest::newRow("first occurrence inside markup")
        << productPage(QStringLiteral("<li title=\"颜色\">颜色:&nbsp;&#32418;</li>"), QString())
        << QStringLiteral("颜色") << QStringLiteral("红");
    QTest::newRow("first occurrence inside the region's own marker")
        << productPage(listItem(QStringLiteral("list"), QStringLiteral("v")), QString())
        << QStringLiteral("list")
        << QStringLiteral("v\">list:&nbsp"); // the decoder keeps the second ";"-field of "><li
                                             // title=\"&nbsp;v\">list:&nbsp;v"
    QTest::newRow("only the first list start marker counts")
        << listRegion(listItem(QStringLiteral("产地"), QStringLiteral("A"))) + listEnd +
               listRegion(listItem(QStringLiteral("品牌"), QStringLiteral("B"))) + tableOnly
        << QStringLiteral("品牌") << changchun;
    QTest::newRow("an empty value") << productPage(QStringLiteral("<li>品牌:</li>"), QString())
                                    << QStringLiteral("品牌") << QString();
}

void tst_Lookup::lookup()
{
    QFETCH(QString, body);
    QFETCH(QString, attribute);
    QFETCH(QString, expected);
    const QByteArray page = gbk(html(body));
    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "GBK"); });
    QVERIFY(server.start());
    const PageDownloader Inet1(shortLimits());
    const QString chazhaowz = server.url(u"/item.htm?id=520").toString();
    const QString urlBefore = chazhaowz;
    QString chazhaosx = attribute;
    const QString answer = chasuxing(Inet1, chazhaowz, chazhaosx);
    QCOMPARE(answer, expected);
    QCOMPARE(chazhaosx, expected);
    QCOMPARE(chazhaowz, urlBefore);
    const QList<HttpRequest> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].target, QByteArray("/item.htm?id=520"));
}

void tst_Lookup::charsets_data()
{
    QTest::addColumn<QByteArray>("headerCharset"); // empty: none in Content-Type
    QTest::addColumn<QString>("head");             // a <meta> declaration, or nothing
    QTest::addColumn<bool>("utf8");

    const QString httpEquiv =
        QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">");
    QTest::newRow("GBK, charset in the header") << QByteArray("GBK") << QString() << false;
    QTest::newRow("GBK, GB2312 in the header") << QByteArray("GB2312") << QString() << false;
    QTest::newRow("GBK, <meta charset> only")
        << QByteArray() << QStringLiteral("<meta charset=\"gbk\">") << false;
    QTest::newRow("GBK, http-equiv only") << QByteArray() << httpEquiv << false;
    QTest::newRow("GBK, no charset anywhere") << QByteArray() << QString() << false;
    QTest::newRow("UTF-8, no charset anywhere") << QByteArray() << QString() << true;
    QTest::newRow("UTF-8, charset in the header") << QByteArray("utf-8") << QString() << true;
}

void tst_Lookup::charsets()
{
    QFETCH(QByteArray, headerCharset);
    QFETCH(QString, head);
    QFETCH(bool, utf8);
    // Values with characters that GB2312 lacks (喆, 堃), written literally: only a right decoding finds them.
    const QString page = html(productPage(listItem(QStringLiteral("品牌"), changchunRefs) +
                                              listItem(QStringLiteral("型号"), QStringLiteral("喆堃-7")),
                                          tableRow(QStringLiteral("产地"), QStringLiteral("吉林省长春市"))),
                              head);
    const QByteArray bytes = utf8 ? page.toUtf8() : gbk(page);
    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(bytes, headerCharset); });
    QVERIFY(server.start());
    const PageDownloader Inet1(shortLimits());
    const QString url = server.url(u"/item.htm").toString();
    struct Case
    {
        QString attribute;
        QString expected;
    };
    for (const Case &c :
         {Case{QStringLiteral("品牌"), changchun}, Case{QStringLiteral("型号"), QStringLiteral("喆堃-7")},
          Case{QStringLiteral("产地"), QStringLiteral("吉林省长春市")},
          Case{QStringLiteral("净含量"), tableMiss}}) {
        QString chazhaosx = c.attribute;
        QCOMPARE(chasuxing(Inet1, url, chazhaosx), c.expected);
    }
}

void tst_Lookup::errorStatusWithBody()
{
    const QByteArray page =
        gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString())));
    for (int status : {404, 500}) {
        HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "gbk", status); });
        QVERIFY(server.start());
        QString chazhaosx = QStringLiteral("品牌");
        QCOMPARE(chasuxing(PageDownloader(shortLimits()), server.url(u"/item.htm").toString(), chazhaosx),
                 changchun);
    }
}

void tst_Lookup::failedDownloads_data()
{
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<bool>("listening");

    const QByteArray page =
        gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString())));
    QTest::newRow("refused connection") << HttpReply() << false;
    HttpReply reply = HttpReply::html(page, "gbk");
    reply.behaviour = HttpReply::Behaviour::NeverAnswer;
    QTest::newRow("server stops answering") << reply << true;
    reply.behaviour = HttpReply::Behaviour::Stall;
    reply.partialBody = page.size() / 2; // the list is in the half that arrives: still no answer from it
    QTest::newRow("server stalls mid-body") << reply << true;
    reply.behaviour = HttpReply::Behaviour::Close;
    QTest::newRow("server closes without answering") << reply << true;
    HttpReply cut = HttpReply::html(page.left(page.size() / 2), "gbk");
    cut.withHeader("Content-Length", QByteArray::number(page.size())).withHeader("Connection", "close");
    QTest::newRow("connection closed mid-body") << cut << true;
}

void tst_Lookup::failedDownloads()
{
    QFETCH(HttpReply, reply);
    QFETCH(bool, listening);
    HttpFixture server([&](const HttpRequest &) { return reply; });
    QString url = QStringLiteral("http://127.0.0.1:%1/item.htm").arg(closedPort());
    if (listening) {
        QVERIFY(server.start());
        url = server.url(u"/item.htm").toString();
    }
    QString chazhaosx = QStringLiteral("品牌");
    QCOMPARE(chasuxing(PageDownloader(shortLimits()), url, chazhaosx), noTable);
    QCOMPARE(chazhaosx, noTable);
}

void tst_Lookup::fileUrlReadsNoFile()
{
    // A product page on disk, where a file: URL would find it: the lookup must not read it.
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString()))));
    file.flush();
    const PageDownloader Inet1(shortLimits());
    for (const QString &url :
         {QUrl::fromLocalFile(file.fileName()).toString(), file.fileName(),
          QStringLiteral("ftp://127.0.0.1/item.htm"), QString(), QStringLiteral("item.htm")}) {
        QString chazhaosx = QStringLiteral("品牌");
        QCOMPARE(chasuxing(Inet1, url, chazhaosx), noTable);
    }
}

void tst_Lookup::oversizedBody()
{
    // The list comes first, then more than 32 MiB of filler: the whole page or nothing.
    QByteArray page = gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString())));
    page += QByteArray(32 * 1024 * 1024, ' ');
    for (bool chunked : {false, true}) {
        HttpFixture server([&](const HttpRequest &) {
            HttpReply reply = HttpReply::html(page, "gbk");
            reply.chunked = chunked;
            return reply;
        });
        QVERIFY(server.start());
        DownloadLimits limits; // the default cap
        limits.transferTimeout = 5s;
        QString chazhaosx = QStringLiteral("品牌");
        QCOMPARE(chasuxing(PageDownloader(limits), server.url(u"/item.htm").toString(), chazhaosx), noTable);
    }
}

void tst_Lookup::followsRedirect()
{
    const QByteArray page =
        gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString())));
    HttpFixture server([&](const HttpRequest &request) {
        if (request.target == "/item.htm?id=1")
            return HttpReply::html(page, "gbk");
        return HttpReply::redirect("/item.htm?id=1");
    });
    QVERIFY(server.start());
    QString chazhaosx = QStringLiteral("品牌");
    QCOMPARE(chasuxing(PageDownloader(shortLimits()), server.url(u"/i1.htm").toString(), chazhaosx),
             changchun);
}

void tst_Lookup::downloadsEveryTime()
{
    const QByteArray page =
        gbk(html(productPage(listItem(QStringLiteral("品牌"), changchunRefs), QString())));
    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "gbk"); });
    QVERIFY(server.start());
    const PageDownloader Inet1(shortLimits());
    const QString url = server.url(u"/item.htm").toString();
    for (int i = 0; i < 2; ++i) {
        QString chazhaosx = QStringLiteral("品牌");
        QCOMPARE(chasuxing(Inet1, url, chazhaosx), changchun);
    }
    QCOMPARE(server.requests().size(), 2);
}

void tst_Lookup::cancelledFromAnotherThread()
{
    HttpFixture server([](const HttpRequest &) {
        HttpReply reply = HttpReply::html("<p>");
        reply.behaviour = HttpReply::Behaviour::NeverAnswer;
        return reply;
    });
    QVERIFY(server.startInThread());
    DownloadLimits limits;
    limits.transferTimeout = 30s;
    const PageDownloader Inet1(limits);
    std::stop_source stop;
    QString answer;
    std::atomic<bool> done = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QString chazhaosx = QStringLiteral("品牌");
        answer = chasuxing(Inet1, server.url(u"/item.htm").toString(), chazhaosx, stop.get_token());
        done = true;
    }));
    worker->start();
    QTRY_VERIFY(!server.requests().isEmpty());
    stop.request_stop();
    QVERIFY(worker->wait(10000));
    QVERIFY(done);
    QCOMPARE(answer, noTable);
}

QTEST_GUILESS_MAIN(tst_Lookup)
#include "tst_lookup.moc"
