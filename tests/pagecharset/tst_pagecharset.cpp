// The page's character set: which charset the response and the page declare, and the decoders behind
// the names. Plain bytes, no network.

#include "httpfixture.h"
#include "pagetext/pagecharset.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

using namespace Quillory;
using namespace Quillory::Testing;

namespace {

QString fromGb18030(const QByteArray &bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

} // namespace

class tst_PageCharset : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodePageBody_data();
    void decodePageBody();
    void decoderForCharset_data();
    void decoderForCharset();
};

void tst_PageCharset::decodePageBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("expected");

    const QString page = QStringLiteral("<p>") + chinese + QStringLiteral("</p>");
    const QByteArray gbkPage = gbk(page);
    const QByteArray utf8Page = page.toUtf8();

    QTest::newRow("header gbk") << gbkPage << QByteArray("text/html; charset=gbk") << page;
    QTest::newRow("header GB2312 decodes GBK characters")
        << gbkPage << QByteArray("text/html; charset=GB2312") << page;
    QTest::newRow("header quoted, spaced") << gbkPage << QByteArray("text/html ; Charset = \"GBK\" ") << page;
    QTest::newRow("header utf-8") << utf8Page << QByteArray("text/html;charset=UTF-8") << page;
    QTest::newRow("header beats meta")
        << gbkPage + QByteArray("<meta charset=utf-8>") << QByteArray("text/html; charset=gbk")
        << page + QStringLiteral("<meta charset=utf-8>");
    QTest::newRow("unknown header charset falls to meta")
        << QByteArray("<meta charset=gbk>") + gbkPage << QByteArray("text/html; charset=no-such-thing")
        << QStringLiteral("<meta charset=gbk>") + page;
    QTest::newRow("header without charset falls to sniffing") << gbkPage << QByteArray("text/html") << page;
    QTest::newRow("header euc-cn decodes GBK characters")
        << gbkPage << QByteArray("text/html; charset=euc-cn") << page;
    QTest::newRow("header iso-8859-1 means windows-1252")
        << QByteArray("caf\xE9 \x80") << QByteArray("text/html; charset=iso-8859-1")
        << QStringLiteral("café €");
    QTest::newRow("meta us-ascii means windows-1252")
        << QByteArray("<meta charset=us-ascii>\x80") << QByteArray()
        << QStringLiteral("<meta charset=us-ascii>€");

    QTest::newRow("utf-8 BOM") << QByteArray("\xEF\xBB\xBF") + utf8Page << QByteArray() << page;
    QTest::newRow("utf-8 BOM beats meta") << QByteArray("\xEF\xBB\xBF<meta charset=gbk>") + utf8Page
                                          << QByteArray() << QStringLiteral("<meta charset=gbk>") + page;
    {
        QStringEncoder le(QStringConverter::Utf16LE);
        QStringEncoder be(QStringConverter::Utf16BE);
        QTest::newRow("utf-16le BOM")
            << QByteArray("\xFF\xFE") + QByteArray(le.encode(page)) << QByteArray() << page;
        QTest::newRow("utf-16be BOM")
            << QByteArray("\xFE\xFF") + QByteArray(be.encode(page)) << QByteArray() << page;
    }

    const QByteArray head = "<!DOCTYPE html><html><head><title>x</title>";
    QTest::newRow("meta charset") << head + "<meta charset=\"gbk\">" + gbkPage << QByteArray()
                                  << QString::fromLatin1(head) + QStringLiteral("<meta charset=\"gbk\">") +
                                         page;
    QTest::newRow("meta charset unquoted, upper case")
        << head + "<META CHARSET=GB2312>" + gbkPage << QByteArray()
        << QString::fromLatin1(head) + QStringLiteral("<META CHARSET=GB2312>") + page;
    const QByteArray equiv = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />";
    QTest::newRow("meta http-equiv") << head + equiv + gbkPage << QByteArray()
                                     << QString::fromLatin1(head + equiv) + page;
    const QByteArray equivReversed = "<meta content='text/html;charset=GBK' http-equiv='content-type'>";
    QTest::newRow("meta http-equiv, content first")
        << head + equivReversed + gbkPage << QByteArray() << QString::fromLatin1(head + equivReversed) + page;
    const QByteArray noEquiv = "<meta name=\"description\" content=\"charset=windows-1252\">";
    QTest::newRow("content without http-equiv is no declaration")
        << noEquiv + utf8Page << QByteArray() << QString::fromLatin1(noEquiv) + page;
    const QByteArray commented = "<!-- <meta charset=windows-1252> -->";
    QTest::newRow("meta in a comment is no declaration")
        << commented + utf8Page << QByteArray() << QString::fromLatin1(commented) + page;
    const QByteArray quotedGt = "<div title=\"a > <meta charset=windows-1252>\">";
    QTest::newRow("meta inside an attribute value is no declaration")
        << quotedGt + utf8Page << QByteArray() << QString::fromLatin1(quotedGt) + page;
    const QByteArray unknownThenKnown = "<meta charset=no-such-thing><meta charset=gbk>";
    QTest::newRow("first meta that names a known charset")
        << unknownThenKnown + gbkPage << QByteArray() << QString::fromLatin1(unknownThenKnown) + page;
    const QByteArray utf16Meta = "<meta charset=utf-16>";
    QTest::newRow("meta utf-16 means utf-8")
        << utf16Meta + utf8Page << QByteArray() << QString::fromLatin1(utf16Meta) + page;
    const QByteArray filler(5000, ' ');
    QTest::newRow("meta after the first 4 KB is not read")
        << filler + "<meta charset=windows-1252>" + utf8Page << QByteArray()
        << QString::fromLatin1(filler) + QStringLiteral("<meta charset=windows-1252>") + page;

    QTest::newRow("no declaration, valid utf-8") << utf8Page << QByteArray() << page;
    QTest::newRow("no declaration, GBK bytes: GB18030") << gbkPage << QByteArray() << page;
    QTest::newRow("no declaration, truncated utf-8 is not utf-8")
        << QByteArray("ab\xE4\xB8") << QByteArray() << fromGb18030(QByteArray("ab\xE4\xB8"));
    QTest::newRow("ascii") << QByteArray("<html>plain</html>") << QByteArray()
                           << QStringLiteral("<html>plain</html>");
    QTest::newRow("empty") << QByteArray() << QByteArray("text/html; charset=gbk") << QString();
}

void tst_PageCharset::decodePageBody()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, expected);
    QCOMPARE(Quillory::decodePageBody(body, contentType), expected);
}

void tst_PageCharset::decoderForCharset_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("valid");
    for (const char *name :
         {"gbk",    "GBK",      "GB2312",     "gb2312",       "GB18030",   "x-gbk", "cp936", "windows-936",
          "euc-cn", "csgb2312", "gb_2312-80", "chinese",      "iso-ir-58", "Big5",  "big5",  "UTF-8",
          "utf8",   "utf-16le", "iso-8859-1", "windows-1252", "Shift_JIS", " gbk "})
        QTest::newRow(name) << QByteArray(name) << true;
    for (const char *name : {"", "no-such-charset", "   "})
        QTest::newRow(name[0] ? name : "empty") << QByteArray(name) << false;
}

void tst_PageCharset::decoderForCharset()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, valid);
    QStringDecoder decoder = Quillory::decoderForCharset(name);
    QCOMPARE(decoder.isValid(), valid);
    const QByteArray lower = name.trimmed().toLower();
    if (valid && (lower.startsWith("gb") || lower.contains("936") || lower.contains("euc-cn") ||
                  lower == "chinese" || lower == "x-gbk" || lower == "csgb2312" || lower == "iso-ir-58"))
        QCOMPARE(decoder.decode(gbk(chinese)).operator QString(), chinese);
}

QTEST_GUILESS_MAIN(tst_PageCharset)
#include "tst_pagecharset.moc"
