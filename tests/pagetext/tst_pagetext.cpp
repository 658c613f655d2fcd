// The text rules every cut is built from, the attribute value decoder and the document text.

#include "pagetext/browserpane.h"
#include "pagetext/documenttext.h"
#include "pagetext/textrules.h"
#include "pagetext/textviews.h"
#include "pagetext/zhuanzi.h"
#include "referencecuts.h"

#include <QObject>
#include <QPointer>
#include <QTest>

#include <memory>
#include <optional>

using namespace Quillory;
using namespace Qt::StringLiterals;

using Parts = QList<std::optional<QString>>;

namespace {

constexpr qsizetype kFails = -1; // in the tables: the call itself fails (an empty optional)

QString units(std::initializer_list<char16_t> codeUnits)
{
    QString s;
    for (char16_t u : codeUnits)
        s.append(QChar(u));
    return s;
}

// Every text over `alphabet` of each length up to `maxLength`, the empty text included.
QStringList allTexts(QStringView alphabet, int maxLength)
{
    QStringList texts{QString()};
    QStringList previous{QString()};
    for (int length = 1; length <= maxLength; ++length) {
        QStringList next;
        for (const QString &prefix : std::as_const(previous)) {
            for (QChar c : alphabet)
                next.append(prefix + c);
        }
        texts += next;
        previous = next;
    }
    return texts;
}

// A browser pane made of plain data. Like the real one it answers later, on the event loop, and never
// once the context object is gone.
class FakePane final : public BrowserPane
{
public:
    PageSnapshot snapshot;
    std::optional<PageReadRequest> lastRequest;

    QString currentUrl() const override { return QString(); }
    void navigate(const QUrl &) override {}
    void readPage(const PageReadRequest &request, QObject *context,
                  std::function<void(const PageSnapshot &)> done) override
    {
        lastRequest = request;
        const PageSnapshot answer = snapshot;
        QMetaObject::invokeMethod(
            context, [answer, done] { done(answer); }, Qt::QueuedConnection);
    }
    void writeField(const QString &, const QString &, const QString &, FieldWriteRule, QObject *,
                    std::function<void(FieldWrite)> done) override
    {
        done(FieldWrite::NoField);
    }
    void keepRead(const ReadToKeep &, QObject *, std::function<void(bool)> done) override { done(false); }
};

} // namespace

class TestPageText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findFrom_data();
    void findFrom();
    void findFromAgreesWithPlainSearch_data();
    void findFromAgreesWithPlainSearch();
    void findFromOnLongPeriodicText_data();
    void findFromOnLongPeriodicText();
    void midText_data();
    void midText();
    void midViewCutsLikeMidText();
    void zhuanzi_data();
    void zhuanzi();
    void zhuanziReturnsPlainTextWithoutCopying();
    void zhuanziOnLongInput();
    void joinDocumentParts_data();
    void joinDocumentParts();
    void documentText_data();
    void documentText();
    void documentTextFromMarkup_data();
    void documentTextFromMarkup();
};

void TestPageText::findFrom_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("expected");

    // The rules apply in their order: a bad start fails even where a later rule would answer.
    QTest::newRow("start 0 fails") << u"abc"_s << u"a"_s << qsizetype(0) << kFails;
    QTest::newRow("negative start fails") << u"abc"_s << u"a"_s << qsizetype(-5) << kFails;
    QTest::newRow("start 0 fails on the empty text") << QString() << QString() << qsizetype(0) << kFails;
    QTest::newRow("empty text yields 0") << QString() << u"a"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("empty text with empty needle yields 0")
        << QString() << QString() << qsizetype(1) << qsizetype(0);
    QTest::newRow("start beyond the end yields 0") << u"abc"_s << u"c"_s << qsizetype(4) << qsizetype(0);
    QTest::newRow("start beyond the end with empty needle yields 0")
        << u"abc"_s << QString() << qsizetype(4) << qsizetype(0);
    QTest::newRow("empty needle yields the start") << u"abc"_s << QString() << qsizetype(3) << qsizetype(3);
    QTest::newRow("empty needle at 1") << u"abc"_s << QString() << qsizetype(1) << qsizetype(1);

    QTest::newRow("match at the start") << u"abcabc"_s << u"abc"_s << qsizetype(1) << qsizetype(1);
    QTest::newRow("start past a match finds the next")
        << u"abcabc"_s << u"abc"_s << qsizetype(2) << qsizetype(4);
    QTest::newRow("start right at a match") << u"abcabc"_s << u"abc"_s << qsizetype(4) << qsizetype(4);
    QTest::newRow("first of overlapping matches") << u"aaaa"_s << u"aa"_s << qsizetype(2) << qsizetype(2);
    QTest::newRow("not found") << u"abcabc"_s << u"abd"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("needle longer than the rest") << u"abcabc"_s << u"bcd"_s << qsizetype(5) << qsizetype(0);
    QTest::newRow("needle longer than the text") << u"ab"_s << u"abc"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("one character") << u"x<y"_s << u"<"_s << qsizetype(1) << qsizetype(2);
    QTest::newRow("match at the very end")
        << u"xxxxxxxxxx</li>"_s << u"</li>"_s << qsizetype(3) << qsizetype(11);
    QTest::newRow("case counts") << u"<em>A</em>"_s << u"<EM>"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("width counts") << u"ＡＢＣ"_s << u"ABC"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("comma width counts") << u"未找到答案,不"_s << u"答案，"_s << qsizetype(1) << qsizetype(0);
    QTest::newRow("Chinese marker") << u"规格参数描述加载中…"_s << u"描述加载中"_s << qsizetype(1)
                                    << qsizetype(5);
    QTest::newRow("long Chinese marker")
        << u"价格说明：拍下价格的不同可能会由于促销和打折引起的，请以"_s
        << u"拍下价格的不同可能会由于促销和打折引起的"_s << qsizetype(1) << qsizetype(6);
    QTest::newRow("periodic needle after a near miss")
        << u"abaabaabab"_s << u"abab"_s << qsizetype(1) << qsizetype(7);
    QTest::newRow("periodic needle, start inside a match")
        << u"aaaaab"_s << u"aaab"_s << qsizetype(2) << qsizetype(3);
    QTest::newRow("same low byte, other character")
        << units({0x4e01, 0x4e02, 0x0001, 0x0002}) << units({0x0001, 0x0002}) << qsizetype(1) << qsizetype(3);
    QTest::newRow("positions count code units: after a surrogate pair")
        << u"😀<EM>"_s << u"<EM>"_s << qsizetype(1) << qsizetype(3);
    QTest::newRow("half of a surrogate pair is found")
        << u"a😀b"_s << units({0xde00}) << qsizetype(1) << qsizetype(3);
}

void TestPageText::findFrom()
{
    QFETCH(QString, text);
    QFETCH(QString, needle);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, expected);

    const std::optional<qsizetype> found = Quillory::findFrom(text, needle, start);
    if (expected == kFails) {
        QVERIFY(!found.has_value());
    } else {
        QVERIFY(found.has_value());
        QCOMPARE(*found, expected);
    }
}

void TestPageText::findFromAgreesWithPlainSearch_data()
{
    QTest::addColumn<QString>("alphabet");
    // ASCII needles take the general searches; a needle with a unit beyond ASCII is first looked for
    // by that unit, and falls back to the general search after too many hits that are no match.
    QTest::newRow("ascii letters") << u"ab"_s;
    QTest::newRow("one Chinese letter") << u"a包"_s;
    QTest::newRow("Chinese letters only") << u"包装"_s;
}

void TestPageText::findFromAgreesWithPlainSearch()
{
    // Every text up to 10 code units over a two-letter alphabet, every needle up to 7 (long enough for
    // the search that long needles take), every start: periodic needles, near misses and matches at
    // either end all occur.
    QFETCH(QString, alphabet);
    const QStringList texts = allTexts(alphabet, 10);
    const QStringList needles = allTexts(alphabet, 7);
    for (const QString &text : texts) {
        for (const QString &needle : needles) {
            for (qsizetype start = 1; start <= text.size() + 1; ++start) {
                const std::optional<qsizetype> found = Quillory::findFrom(text, needle, start);
                if (!found || *found != Testing::plainFind(text, needle, start)) {
                    QFAIL(qPrintable(u"findFrom(\"%1\", \"%2\", %3)"_s.arg(text, needle).arg(start)));
                }
            }
        }
    }
}

void TestPageText::findFromOnLongPeriodicText_data()
{
    QTest::addColumn<QChar>("letter");
    QTest::addColumn<QChar>("odd");
    QTest::newRow("ascii") << QChar(u'a') << QChar(u'b');
    // Every unit of the text is a hit for the needle's first unit: the search must stop checking hits.
    QTest::newRow("Chinese") << QChar(u'包') << QChar(u'装');
}

void TestPageText::findFromOnLongPeriodicText()
{
    // A text of one repeated letter and a needle that differs from it in one place only: the input
    // that makes a search with a bad-character rule alone compare the whole needle at every position.
    QFETCH(QChar, letter);
    QFETCH(QChar, odd);
    const QString text = QString(200000, letter) + odd + QString(999, letter);
    const QString needle = odd + QString(999, letter);
    QCOMPARE(Quillory::findFrom(text, needle, 1), std::optional<qsizetype>(200001));
    QCOMPARE(Quillory::findFrom(text, needle, 200002), std::optional<qsizetype>(0));
    const QString other = QString(999, letter) + odd;
    QCOMPARE(Quillory::findFrom(text, other, 1), std::optional<qsizetype>(199002));
}

void TestPageText::midText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("expected");

    QTest::newRow("start 0 fails") << u"abc"_s << qsizetype(0) << qsizetype(1) << true << QString();
    QTest::newRow("negative start fails") << u"abc"_s << qsizetype(-1) << qsizetype(1) << true << QString();
    QTest::newRow("negative length fails") << u"abc"_s << qsizetype(1) << qsizetype(-1) << true << QString();
    QTest::newRow("negative length fails past the end")
        << u"abc"_s << qsizetype(9) << qsizetype(-1) << true << QString();
    QTest::newRow("negative length fails on the empty text")
        << QString() << qsizetype(1) << qsizetype(-3) << true << QString();
    QTest::newRow("length 0 yields empty") << u"abc"_s << qsizetype(2) << qsizetype(0) << false << QString();
    QTest::newRow("length 0 past the end yields empty")
        << u"abc"_s << qsizetype(7) << qsizetype(0) << false << QString();
    QTest::newRow("inside the text") << u"abcdef"_s << qsizetype(2) << qsizetype(3) << false << u"bcd"_s;
    QTest::newRow("the whole text") << u"abc"_s << qsizetype(1) << qsizetype(3) << false << u"abc"_s;
    QTest::newRow("length past the end yields the rest")
        << u"abcdef"_s << qsizetype(4) << qsizetype(10) << false << u"def"_s;
    QTest::newRow("largest length yields the rest")
        << u"abcdef"_s << qsizetype(5) << std::numeric_limits<qsizetype>::max() << false << u"ef"_s;
    QTest::newRow("last character") << u"abc"_s << qsizetype(3) << qsizetype(1) << false << u"c"_s;
    QTest::newRow("start just past the end yields empty")
        << u"abc"_s << qsizetype(4) << qsizetype(2) << false << QString();
    QTest::newRow("start far past the end yields empty")
        << u"abc"_s << std::numeric_limits<qsizetype>::max() << std::numeric_limits<qsizetype>::max() << false
        << QString();
    QTest::newRow("empty text yields empty")
        << QString() << qsizetype(1) << qsizetype(5) << false << QString();
    QTest::newRow("Chinese text") << u"属性描述<EM>品牌</EM>"_s << qsizetype(9) << qsizetype(2) << false
                                  << u"品牌"_s;
    QTest::newRow("cut between the halves of a surrogate pair")
        << u"a😀b"_s << qsizetype(3) << qsizetype(2) << false << units({0xde00, u'b'});
}

void TestPageText::midText()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(bool, fails);
    QFETCH(QString, expected);

    const std::optional<QString> piece = Quillory::midText(text, start, length);
    QCOMPARE(piece.has_value(), !fails);
    if (piece)
        QCOMPARE(*piece, expected);
}

void TestPageText::midViewCutsLikeMidText()
{
    // The lookup narrows megabyte pages with views; they must cut exactly where midText cuts.
    const QString text = u"ab属性c"_s;
    for (qsizetype start = -1; start <= text.size() + 2; ++start) {
        for (qsizetype length = -2; length <= text.size() + 2; ++length) {
            const std::optional<QString> copy = Quillory::midText(text, start, length);
            const std::optional<QStringView> view = midView(text, start, length);
            QCOMPARE(view.has_value(), copy.has_value());
            if (view)
                QCOMPARE(view->toString(), *copy);
        }
    }
}

void TestPageText::zhuanzi_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    // Values as product pages write them.
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plain text comes back") << u"abc"_s << u"abc"_s;
    QTest::newRow("two references") << u"&#20013;&#25991;"_s << u"中文"_s;
    QTest::newRow("text before the first reference is kept") << u"abc&#20013;"_s << u"abc中"_s;
    QTest::newRow("text after a reference is lost") << u"&#20013;abc&#25991;"_s << u"中文"_s;
    QTest::newRow("trailing text is lost") << u"&#20013;&#25991;xyz"_s << u"中文"_s;
    QTest::newRow("reference without semicolon at the end") << u"&#20013"_s << u"中"_s;
    QTest::newRow("reference without semicolon before the next") << u"&#20013&#25991;"_s << u"中文"_s;
    QTest::newRow("digits and text without semicolon") << u"&#20013abc"_s << QString();
    QTest::newRow("short references are dropped") << u"&#65;&#66;"_s << QString();
    QTest::newRow("short reference with text after it") << u"x&#65;y"_s << u"x"_s;
    QTest::newRow("four digits, semicolon, text") << u"&#2001;xyz"_s << QString();
    QTest::newRow("six digits give the first five") << u"&#123456;"_s << units({12345});
    QTest::newRow("semicolon far after five digits still cuts") << u"&#20013abc;"_s << u"中"_s;
    QTest::newRow("five digits out of range") << u"&#70000;"_s << QString();
    QTest::newRow("out-of-range reference does not stop the next") << u"&#70000;&#20013;"_s << u"中"_s;
    QTest::newRow("five digits, semicolon, lone ampersand") << u"&#20013;&x&#25991;"_s << u"中文"_s;
    QTest::newRow("largest code unit") << u"&#65535;"_s << units({0xffff});
    QTest::newRow("one past the largest code unit") << u"&#65536;"_s << QString();
    QTest::newRow("surrogate pair from two references") << u"&#55357;&#56832;"_s << u"😀"_s;
    QTest::newRow("lone high surrogate") << u"&#55357;"_s << units({0xd83d});
    QTest::newRow("surrogates in the wrong order stay two units")
        << u"&#56832;&#55357;"_s << units({0xde00, 0xd83d});
    QTest::newRow("literal non-BMP text before a reference") << u"😀&#20013;"_s << u"😀中"_s;
    QTest::newRow("hexadecimal reference") << u"&#x4E2D;"_s << QString();
    QTest::newRow("hexadecimal reference without semicolon") << u"&#x4E2D"_s << QString();
    QTest::newRow("full-width digits are not a number") << u"&#２００１３"_s << QString();

    // Number reading: an optional sign and blanks around the digits.
    QTest::newRow("zero gives the NUL unit") << u"&#0"_s << units({0});
    QTest::newRow("leading zeros") << u"&#0000000000020013"_s << u"中"_s;
    QTest::newRow("very long number") << u"&#99999999999999999999999"_s << QString();
    QTest::newRow("plus sign") << u"&#+20013"_s << u"中"_s;
    QTest::newRow("minus one is the last unit") << u"&#-1"_s << units({0xffff});
    QTest::newRow("lowest negative") << u"&#-32768"_s << units({0x8000});
    QTest::newRow("below the lowest negative") << u"&#-32769"_s << QString();
    QTest::newRow("minus zero") << u"&#-0"_s << units({0});
    QTest::newRow("negative with semicolon is cut to a non-number") << u"&#-1;"_s << QString();
    QTest::newRow("blanks around the number") << u"&# \t20013 \t"_s << u"中"_s;
    QTest::newRow("blank counts in the five-unit cut") << u"&# 20013;"_s << units({2001});
    QTest::newRow("blank inside the digits") << u"&#200 13"_s << QString();
    QTest::newRow("blank between sign and digits") << u"&#- 5"_s << QString();
    QTest::newRow("sign alone") << u"&#-"_s << QString();
    QTest::newRow("two signs") << u"&#+-5"_s << QString();
    QTest::newRow("line feed is not a blank") << u"&#20013\n"_s << QString();

    // Splitting at every "&#".
    QTest::newRow("empty reference piece") << u"&#&#20013;"_s << u"中"_s;
    QTest::newRow("input ends with &#") << u"abc&#"_s << u"abc"_s;
    QTest::newRow("only &#") << u"&#"_s << QString();
    QTest::newRow("ampersand without hash") << u"a&b;c"_s << u"a&b;c"_s;
    QTest::newRow("ampersand right before a reference") << u"&&#20013;"_s << u"&中"_s;
    QTest::newRow("a skipped piece does not stop the next") << u"&#20013;&#abc;&#25991;"_s << u"中文"_s;
    QTest::newRow("semicolon right after the split") << u"&#;20013"_s << QString();

    // The leading non-breaking space.
    QTest::newRow("nbsp alone") << u"&nbsp;"_s << QString();
    QTest::newRow("nbsp then reference") << u"&nbsp;&#20013;"_s << u"中"_s;
    QTest::newRow("nbsp, text, reference") << u"&nbsp;abc&#20013;"_s << u"abc中"_s;
    QTest::newRow("nbsp at the end") << u"abc&nbsp;"_s << QString();
    QTest::newRow("second field up to the second semicolon") << u"a&nbsp;b;c"_s << u"b"_s;
    QTest::newRow("two nbsp") << u"&nbsp;&nbsp;x"_s << u"&nbsp"_s;
    QTest::newRow("upper-case NBSP is text") << u"&NBSP;x"_s << u"&NBSP;x"_s;
    QTest::newRow("nbsp then plain text") << u"&nbsp;华为"_s << u"华为"_s;
    QTest::newRow("nbsp after the first reference is lost") << u"&#20013;&nbsp;x"_s << u"中"_s;
    QTest::newRow("nbsp without its semicolon is text") << u"&nbspx"_s << u"&nbspx"_s;

    // The lookup's own texts pass through it.
    QTest::newRow("table-miss text") << u"未找到答案，淘宝太会藏了！！"_s
                                     << u"未找到答案，淘宝太会藏了！！"_s;
    QTest::newRow("no-table text") << u"未找到答案,不被淘宝藏到哪里去了！！"_s
                                   << u"未找到答案,不被淘宝藏到哪里去了！！"_s;
}

void TestPageText::zhuanzi()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);

    const QString decoded = Quillory::zhuanzi(input);
    QCOMPARE(decoded, expected);
    QVERIFY(decoded.size() <= input.size());
}

void TestPageText::zhuanziReturnsPlainTextWithoutCopying()
{
    const QString plain = QString(100000, u'x') + u"品牌";
    const QString decoded = Quillory::zhuanzi(plain);
    QCOMPARE(decoded, plain);
    QVERIFY(decoded.isSharedWith(plain));
}

void TestPageText::zhuanziOnLongInput()
{
    // Many pieces: every reference decodes, in order, and the text between them is dropped.
    QString input = u"&nbsp;起"_s;
    QString expected = u"起"_s;
    for (int i = 0; i < 50000; ++i) {
        const int unit = 20000 + i % 20000;
        input += u"&#"_s + QString::number(unit) + (i % 3 == 0 ? u";"_s : u";尾巴"_s);
        expected += QChar(char16_t(unit));
    }
    input += u"&#20013"_s;
    expected += u"中"_s;
    QCOMPARE(Quillory::zhuanzi(input), expected);
}

void TestPageText::joinDocumentParts_data()
{
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no elements") << Parts{} << QString();
    QTest::newRow("one element x") << Parts{u"x"_s} << u"\rx"_s;
    QTest::newRow("nested: the inner content occurs twice")
        << Parts{u"<B>b</B>"_s, u"b"_s} << u"\r<B>b</B>\rb"_s;
    QTest::newRow("unreadable element adds nothing, not even its separator")
        << Parts{u"a"_s, std::nullopt, u"b"_s} << u"\ra\rb"_s;
    QTest::newRow("only unreadable elements") << Parts{std::nullopt, std::nullopt} << QString();
    QTest::newRow("empty part adds the separator alone") << Parts{u"a"_s, QString(), u"b"_s} << u"\ra\r\rb"_s;
    QTest::newRow("empty part last") << Parts{u"a"_s, QString()} << u"\ra\r"_s;
    QTest::newRow("line feeds come only from the parts") << Parts{u"a\r\nb"_s, u"c"_s} << u"\ra\r\nb\rc"_s;
}

void TestPageText::joinDocumentParts()
{
    QFETCH(Parts, parts);
    QFETCH(QString, expected);

    const QString text = Quillory::joinDocumentParts(parts);
    QCOMPARE(text, expected);
    QVERIFY(!text.contains(u'\n') || expected.contains(u'\n'));
}

void TestPageText::documentText_data()
{
    QTest::addColumn<bool>("hasDocument");
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no document") << false << Parts{} << QString();
    QTest::newRow("no document, stale parts ignored") << false << Parts{u"x"_s} << QString();
    QTest::newRow("document without elements") << true << Parts{} << QString();
    QTest::newRow("nested elements") << true
                                     << Parts{u"<DIV><EM>品牌</EM></DIV>"_s, u"<EM>品牌</EM>"_s, u"品牌"_s}
                                     << u"\r<DIV><EM>品牌</EM></DIV>\r<EM>品牌</EM>\r品牌"_s;
    QTest::newRow("unreadable element") << true << Parts{u"A"_s, std::nullopt, u"B"_s} << u"\rA\rB"_s;
    QTest::newRow("empty part") << true << Parts{QString(), u"B"_s} << u"\r\rB"_s;
}

void TestPageText::documentText()
{
    QFETCH(bool, hasDocument);
    QFETCH(Parts, parts);
    QFETCH(QString, expected);

    FakePane pane;
    pane.snapshot.hasDocument = hasDocument;
    pane.snapshot.reply = ElementTexts{parts};

    const struct
    {
        void (*read)(BrowserPane &, QObject *, std::function<void(const QString &)>);
        ElementPart part;
    } readers[] = {{&getWebHtml, ElementPart::InnerHtml}, {&getWebContent, ElementPart::InnerText}};

    for (const auto &reader : readers) {
        QObject context;
        std::optional<QString> result;
        reader.read(pane, &context, [&result](const QString &text) { result = text; });
        QVERIFY(pane.lastRequest.has_value());
        QCOMPARE(pane.lastRequest->part, std::optional<ElementPart>(reader.part));
        QCOMPARE(pane.lastRequest->scope, ElementScope::AllElements);
        QCOMPARE(pane.lastRequest->withLinks, false);
        QTRY_VERIFY(result.has_value());
        QCOMPARE(*result, expected);
    }
}

using Ranges = QList<std::pair<qint32, qint32>>;

void TestPageText::documentTextFromMarkup_data()
{
    QTest::addColumn<QString>("rootMarkup");
    QTest::addColumn<Ranges>("ranges");
    QTest::addColumn<QStringList>("hiddenParts");
    QTest::addColumn<QString>("expected");

    const QString root = u"<P>x<EM>品牌</EM></P><IMG>"_s;
    QTest::newRow("the root's part alone") << root << Ranges{} << QStringList{} << u'\r' + root;
    QTest::newRow("every element's part a stretch of the root's")
        << root << Ranges{{0, 24}, {3, 15}, {8, 10}, {24, 24}} << QStringList{}
        << u"\r"_s + root + u"\rx<EM>品牌</EM>\r品牌\r"_s;
    QTest::newRow("an element inside a void element has a part of its own")
        << root << Ranges{{0, 24}, {3, 15}, {8, 10}, {24, 24}, {-1, 0}} << QStringList{u"&lt;EM&gt;"_s}
        << u"\r"_s + root + u"\rx<EM>品牌</EM>\r品牌\r\r&lt;EM&gt;"_s;
    QTest::newRow("ranges out of the markup give empty parts")
        << root << Ranges{{0, 24}, {20, 99}, {-5, 0}} << QStringList{} << u"\r"_s + root + u"\r\r"_s;
}

// The document text from a read of the markup: the root's part, then every element's where the read
// placed it.
void TestPageText::documentTextFromMarkup()
{
    QFETCH(QString, rootMarkup);
    QFETCH(Ranges, ranges);
    QFETCH(QStringList, hiddenParts);
    QFETCH(QString, expected);

    PageSnapshot page;
    page.hasDocument = true;
    page.reply = DocumentMarkup{rootMarkup, ranges, hiddenParts};
    QCOMPARE(Quillory::documentText(page), expected);
    page.reply = ReadStillKept(); // a kept read has no text of its own
    QCOMPARE(Quillory::documentText(page), QString());
}

QTEST_GUILESS_MAIN(TestPageText)
#include "tst_pagetext.moc"
