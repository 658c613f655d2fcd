// The lookup's cuts on product page texts and the plain-text rules of the answering pass.

#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "answer/autoanswer.h"
#include "answer/passreport.h"
#include "answer/passrules.h"
#include "answer/passstatus.h"
#include "answer/trialsite.h"
#include "eventwait.h"
#include "fakeproductsource.h"
#include "pagetext/pagedownloader.h"

#include <QObject>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace Quillory;
using namespace Qt::StringLiterals;

using Links = std::optional<QList<PageLink>>;

namespace {

const QString kListStart = u"attributes-list"_s;
const QString kListEnd = u"描述加载中"_s;
const QString kTableStart = u"包装和参数"_s;
const QString kTableEnd = u"拍下价格的不同可能会由于促销和打折引起的"_s;

// Product page pieces shaped like the real ones.
QString listRegion(const QString &items)
{
    return u"<ul class=\""_s + kListStart + u"\">"_s + items + u"</ul><div id=\"description\">"_s + kListEnd;
}

QString tableRegion(const QString &rows)
{
    return u"<h4>"_s + kTableStart + u"</h4><table>"_s + rows + u"</table><p>"_s + kTableEnd + u"。</p>"_s;
}

QString page(const QString &body)
{
    return u"<html><head><meta charset=\"gbk\"></head><body>"_s + body + u"</body></html>"_s;
}

// The nine characters the table puts between a name and its value.
QString tableRow(const QString &name, const QString &value)
{
    return u"<tr><th>"_s + name + u"</th><td>"_s + value + u"</td></tr>"_s;
}

PageLink link(std::optional<QString> text, std::optional<QString> href)
{
    return PageLink{std::move(text), std::move(href)};
}

} // namespace

class TestAnswerRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void passLineEscapesOutsideText_data();
    void passLineEscapesOutsideText();
    void autoAnswerFollowsTheCheckBox_data();
    void autoAnswerFollowsTheCheckBox();
    void lookUpAttribute_data();
    void lookUpAttribute();
    void lookUpAttributeInLargePage();
    void lookUpAttributeWithPageAsName();
    void lookUpAttributeInTheRenderedForm_data();
    void lookUpAttributeInTheRenderedForm();
    void isTrialItemPage_data();
    void isTrialItemPage();
    void answerPageLink_data();
    void answerPageLink();
    void cutQuestion_data();
    void cutQuestion();
    void passStatus_data();
    void passStatus();
    void statusWords();
};

void TestAnswerRules::lookUpAttribute_data()
{
    QTest::addColumn<QString>("pageText");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const QString list = listRegion(u"<li>品牌:华为</li><li>型号:P9</li>"_s);
    const QString table = tableRegion(tableRow(u"品牌"_s, u"荣耀"_s) + tableRow(u"重量"_s, u"144g"_s));

    // Values from the attribute list.
    QTest::newRow("list: value after one separator") << page(list) << u"品牌"_s << u"华为"_s;
    QTest::newRow("list: second item") << page(list) << u"型号"_s << u"P9"_s;
    QTest::newRow("list: references decoded")
        << page(listRegion(u"<li>品牌:&#21326;&#20026;</li>"_s)) << u"品牌"_s << u"华为"_s;
    QTest::newRow("list: leading nbsp dropped")
        << page(listRegion(u"<li>品牌:&nbsp;华为</li>"_s)) << u"品牌"_s << u"华为"_s;
    QTest::newRow("list: markup stays in the value")
        << page(listRegion(u"<li>品牌:<b>华为</b></li>"_s)) << u"品牌"_s << u"<b>华为</b>"_s;
    QTest::newRow("list: closing tag right at the value start gives empty")
        << page(listRegion(u"<li>品牌:</li>"_s)) << u"品牌"_s << QString();
    QTest::newRow("list: no closing tag after the value gives the name")
        << page(listRegion(u"<li>x</li><li>品牌:华为"_s)) << u"品牌"_s << u"品牌"_s;
    QTest::newRow("list: value start past the region's end gives the name")
        << page(u"<ul class=\"attributes-list\"><li>x</li>品牌描述加载中</li>"_s) << u"品牌"_s << u"品牌"_s;
    QTest::newRow("list: a name echoed by a failed cut is decoded too")
        << page(listRegion(u"<li>&#21697;&#29260;:华为"_s)) << u"&#21697;&#29260;"_s << u"品牌"_s;
    QTest::newRow("list: closing tag after the region does not count")
        << page(listRegion(u"<li>品牌:华为"_s) + u"</li>"_s) << u"品牌"_s << u"品牌"_s;

    // The first occurrence of the name decides.
    QTest::newRow("first occurrence inside a longer name")
        << page(listRegion(u"<li>颜色分类:红</li><li>颜色:蓝</li>"_s)) << u"颜色"_s << u"类:红"_s;
    QTest::newRow("first occurrence inside markup")
        << page(listRegion(u"<li title=\"品牌\">品牌:华为</li>"_s)) << u"品牌"_s << u">品牌:华为"_s;
    QTest::newRow("first occurrence inside the list start marker")
        << page(listRegion(u"<li>list:x</li>"_s)) << u"list"_s << u"><li>list:x"_s;
    QTest::newRow("first occurrence inside the table start marker")
        << page(tableRegion(tableRow(u"参数"_s, u"v"_s))) << u"参数"_s << u"le><tr><th>参数</th><td>v"_s;
    QTest::newRow("empty name with a list region: from its second character")
        << page(listRegion(u"<li>a</li>"_s)) << QString() << u"ttributes-list\"><li>a"_s;
    QTest::newRow("empty name, table region only: from its tenth character")
        << page(tableRegion(tableRow(u"A"_s, u"B"_s))) << QString() << u"><table><tr><th>A</th><td>B"_s;
    QTest::newRow("empty name, no regions, no table")
        << page(u"<p>nothing</p>"_s) << QString() << LookupText::noTable;
    QTest::newRow("empty name, table marker without its note")
        << page(kTableStart + u"<td>x</td>"_s) << QString() << LookupText::tableMiss;
    QTest::newRow("empty name, empty page") << QString() << QString() << LookupText::noTable;

    // Which region answers.
    QTest::newRow("list preferred over table") << page(list + table) << u"品牌"_s << u"华为"_s;
    QTest::newRow("table preferred when the name is not in the list")
        << page(list + table) << u"重量"_s << u"144g"_s;
    QTest::newRow("failed list cut does not fall back to the table")
        << page(listRegion(u"<li>品牌:华为"_s) + table) << u"品牌"_s << u"品牌"_s;
    QTest::newRow("name in neither region, no table")
        << page(u"<li>品牌:华为</li>"_s + list) << u"颜色"_s << LookupText::noTable;
    QTest::newRow("name only before the list region, no table")
        << page(u"<li>颜色:红</li>"_s + list) << u"颜色"_s << LookupText::noTable;
    QTest::newRow("name only after the table region")
        << page(table + tableRow(u"颜色"_s, u"红"_s)) << u"颜色"_s << LookupText::tableMiss;
    QTest::newRow("only the first list region counts")
        << page(listRegion(u"<li>x</li>"_s) + listRegion(u"<li>颜色:红</li>"_s)) << u"颜色"_s
        << LookupText::noTable;
    QTest::newRow("only the first table region counts")
        << page(tableRegion(tableRow(u"x"_s, u"y"_s)) + tableRegion(tableRow(u"颜色"_s, u"红"_s)))
        << u"颜色"_s << LookupText::tableMiss;

    // Failure table, row by row.
    QTest::newRow("failed download: empty page gives the no-table text")
        << QString() << u"品牌"_s << LookupText::noTable;
    QTest::newRow("list start marker missing: table answers")
        << page(u"<ul><li>品牌:华为</li></ul>"_s + kListEnd + table) << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("list end marker missing: table answers")
        << page(u"<ul class=\"attributes-list\"><li>品牌:华为</li></ul>"_s + table) << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("list end marker before the start marker: table answers")
        << page(kListEnd + u"<ul class=\"attributes-list\"><li>品牌:华为</li></ul>"_s + kListEnd + table)
        << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("list end marker before the start marker, no table")
        << page(kListEnd + listRegion(u"<li>品牌:华为</li>"_s)) << u"品牌"_s << LookupText::noTable;
    QTest::newRow("name in the list region, no closing tag: the name")
        << page(listRegion(u"<li>品牌:华为"_s)) << u"品牌"_s << u"品牌"_s;
    QTest::newRow("name not in the list region, no table marker: the no-table text")
        << page(list) << u"颜色"_s << LookupText::noTable;
    QTest::newRow("table marker but no promotional note: the table-miss text")
        << page(list + kTableStart + tableRow(u"颜色"_s, u"红"_s)) << u"颜色"_s << LookupText::tableMiss;
    QTest::newRow("promotional note before the table marker: the table-miss text")
        << page(kTableEnd + kTableStart + tableRow(u"颜色"_s, u"红"_s) + kTableEnd) << u"颜色"_s
        << LookupText::tableMiss;
    QTest::newRow("name in the table region, no closing tag: the name")
        << page(tableRegion(u"<tr><th>颜色</th><td>红"_s)) << u"颜色"_s << u"颜色"_s;
    QTest::newRow("name not in the table region: the table-miss text")
        << page(list + table) << u"颜色"_s << LookupText::tableMiss;

    // Table values.
    QTest::newRow("table: value after nine characters") << page(table) << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("table: references decoded")
        << page(tableRegion(tableRow(u"品牌"_s, u"&#33635;&#32768;"_s))) << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("table: closing tag right at the value start gives empty")
        << page(tableRegion(tableRow(u"品牌"_s, QString()))) << u"品牌"_s << QString();
    QTest::newRow("table: closing tag inside the nine skipped characters does not count")
        << page(tableRegion(u"<tr><th>品牌</td><td>荣耀</td></tr>"_s)) << u"品牌"_s << u"荣耀"_s;
    QTest::newRow("table: value start past the region's end gives the name")
        << page(u"<h4>包装和参数</h4>品牌</td>拍下价格的不同可能会由于促销和打折引起的"_s) << u"品牌"_s
        << u"品牌"_s;

    // The two not-found texts differ in their comma.
    QTest::newRow("no-table text has the ASCII comma")
        << QString() << u"x"_s << u"未找到答案,不被淘宝藏到哪里去了！！"_s;
    QTest::newRow("table-miss text has the full-width comma")
        << page(table) << u"x"_s << u"未找到答案，淘宝太会藏了！！"_s;
}

void TestAnswerRules::lookUpAttribute()
{
    QFETCH(QString, pageText);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QString chazhaosx = name;
    const QString answer = Quillory::lookUpAttribute(pageText, chazhaosx);
    QCOMPARE(answer, expected);
    QCOMPARE(chazhaosx, answer); // the argument holds the answer on return
}

void TestAnswerRules::lookUpAttributeInLargePage()
{
    // Megabytes of markup before the regions, and markers that recur after them: the cuts still take
    // the first occurrence of each and the value comes out whole.
    QString filler;
    for (int i = 0; i < 60000; ++i)
        filler += u"<div class=\"item\"><span>规格</span><a href=\"#\">描述</a></div>\n"_s;
    const QString text = page(filler + listRegion(u"<li>品牌:&#21326;&#20026;</li><li>颜色:红</li>"_s) +
                              filler + tableRegion(tableRow(u"重量"_s, u"144g"_s)) + filler);
    QVERIFY(text.size() > 4 * 1024 * 1024);

    QString brand = u"品牌"_s;
    QCOMPARE(Quillory::lookUpAttribute(text, brand), u"华为"_s);
    QString weight = u"重量"_s;
    QCOMPARE(Quillory::lookUpAttribute(text, weight), u"144g"_s);
    QString missing = u"尺寸"_s;
    QCOMPARE(Quillory::lookUpAttribute(text, missing), LookupText::tableMiss);
}

void TestAnswerRules::lookUpAttributeWithPageAsName()
{
    // The answer replaces the argument that is also the page: the page must not change under the cuts.
    QString text = page(listRegion(u"<li>品牌:华为</li>"_s) + tableRegion(tableRow(u"a"_s, u"b"_s)));
    QCOMPARE(Quillory::lookUpAttribute(text, text), LookupText::tableMiss);
    QCOMPARE(text, LookupText::tableMiss);
}

void TestAnswerRules::passLineEscapesOutsideText_data()
{
    using Status = DownloadResult::Status;
    QTest::addColumn<Status>("status");
    QTest::addColumn<bool>("refused");

    QTest::newRow("refused redirect") << Status::NetworkError << true;
    QTest::newRow("failed download") << Status::NetworkError << false;
    QTest::newRow("timed out") << Status::TimedOut << false;
    QTest::newRow("too large") << Status::TooLarge << false;
}

// A server's error or redirect target cannot put terminal controls, bidi overrides or line breaks into
// the pass line.
void TestAnswerRules::passLineEscapesOutsideText()
{
    QFETCH(DownloadResult::Status, status);
    QFETCH(bool, refused);

    PassReport report;
    report.trialItemPage = true;
    report.question = true;
    PassReport::Download download;
    download.status = status;
    download.refused = refused;
    download.errorText = u"to http://x/\u202Eevil\u009B2J\u2028next\n\x1b]0;title\x07"_s;
    report.download = download;
    const QString line = describePass(report);
    for (const char16_t raw : {u'\u202E', u'\u009B', u'\u2028', u'\n', u'\x1b', u'\x07'})
        QVERIFY2(!line.contains(QChar(raw)), qPrintable(QString::number(raw, 16)));
    QVERIFY2(line.contains(u"\\u202eevil\\u009b2J\\u2028next\\n\\u001b]0;title\\u0007"_s), qPrintable(line));
}

// The same rules on the page as the browser shows it (PageForm::Rendered): a reference is one character
// of the page, and the answer is the text the page shows in the cut value.
void TestAnswerRules::lookUpAttributeInTheRenderedForm_data()
{
    QTest::addColumn<QString>("pageText");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("servedExpected"); // the served form's rules on the same text

    QTest::newRow("separator and leading no-break space")
        << page(listRegion(u"<li>品牌:&nbsp;华为</li>"_s)) << u"品牌"_s << u"华为"_s << u"华为"_s;
    QTest::newRow("references shown as characters, a literal reference kept")
        << page(listRegion(u"<li>型号:&nbsp;H&amp;M 100&nbsp;ml &lt;10cm &amp;#20013;</li>"_s)) << u"型号"_s
        << u"H&M 100\u00a0ml <10cm &#20013;"_s << u"H&amp"_s;
    QTest::newRow("the character skipped after the name is a whole reference")
        << page(listRegion(u"<li>品牌&nbsp;华为</li>"_s)) << u"品牌"_s << u"华为"_s << u"nbsp;华为"_s;
    QTest::newRow("markup inside the value is not shown")
        << page(listRegion(u"<li>品牌:<b>华</b><i class=\"a\">为</i></li>"_s)) << u"品牌"_s << u"华为"_s
        << u"<b>华</b><i class=\"a\">为</i>"_s;
    QTest::newRow("a name inside a reference does not count")
        << page(listRegion(u"<li>尺寸:&lt;10cm</li><li>t;10:x</li>"_s)) << u"t;10"_s << u"x"_s << u"m"_s;
    QTest::newRow("a name in the question's form matches the page's text")
        << page(listRegion(u"<li>长&amp;宽:1m</li>"_s)) << u"长&amp;宽"_s << u"1m"_s << u"1m"_s;
    QTest::newRow("a name in a tag: the text shown after it")
        << page(listRegion(u"<li title=\"品牌\">品牌:华为</li>"_s)) << u"品牌"_s << u"品牌:华为"_s
        << u">品牌:华为"_s;
    QTest::newRow("a name echoed by a failed cut is shown as text")
        << page(listRegion(u"<li>H&amp;M:x"_s)) << u"H&amp;M"_s << u"H&M"_s << u"H&amp;M"_s;
    QTest::newRow("table: nine characters, then the value")
        << page(tableRegion(tableRow(u"产地"_s, u"&nbsp;中国"_s))) << u"产地"_s << u"中国"_s << u"中国"_s;
    QTest::newRow("not-found texts as served") << page(listRegion(u"<li>品牌:华为</li>"_s)) << u"颜色"_s
                                               << LookupText::noTable << LookupText::noTable;
}

void TestAnswerRules::lookUpAttributeInTheRenderedForm()
{
    QFETCH(QString, pageText);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QFETCH(QString, servedExpected);

    QString chazhaosx = name;
    QCOMPARE(Quillory::lookUpAttribute(pageText, chazhaosx, nullptr, PageForm::Rendered), expected);
    QCOMPARE(chazhaosx, expected);
    QString served = name;
    QCOMPARE(Quillory::lookUpAttribute(pageText, served), servedExpected);
    QCOMPARE(Quillory::lacksTheAttribute(pageText, name, PageForm::Rendered),
             expected == LookupText::noTable || expected == LookupText::tableMiss);
}

void TestAnswerRules::isTrialItemPage_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("expected");

    QTest::newRow("item page") << u"http://try.taobao.com/item.htm?id=12345"_s << true;
    QTest::newRow("exactly the prefix") << TrialSite::itemPagePrefix << true;
    QTest::newRow("prefix inside a query")
        << u"http://example.com/r?to=http://try.taobao.com/item.htm&x=1"_s << true;
    QTest::newRow("https is not the prefix") << u"https://try.taobao.com/item.htm?id=1"_s << false;
    QTest::newRow("upper-case scheme") << u"HTTP://try.taobao.com/item.htm?id=1"_s << false;
    QTest::newRow("other letter case in the path") << u"http://try.taobao.com/Item.htm?id=1"_s << false;
    QTest::newRow("home page") << TrialSite::homePage << false;
    QTest::newRow("prefix cut short") << u"http://try.taobao.com/item.ht"_s << false;
    QTest::newRow("empty url") << QString() << false;
}

void TestAnswerRules::isTrialItemPage()
{
    QFETCH(QString, url);
    QFETCH(bool, expected);
    QCOMPARE(Quillory::isTrialItemPage(url), expected);
}

void TestAnswerRules::answerPageLink_data()
{
    QTest::addColumn<Links>("links");
    QTest::addColumn<QString>("expected");

    const QString a = u"http://item.taobao.com/item.htm?id=1"_s;
    const QString b = u"http://item.taobao.com/item.htm?id=2"_s;

    QTest::newRow("link list unreadable") << Links{} << QString();
    QTest::newRow("no links") << Links{QList<PageLink>{}} << QString();
    QTest::newRow("one match") << Links{{link(u"首页"_s, b), link(u"找答案"_s, a)}} << a;
    QTest::newRow("no match") << Links{{link(u"首页"_s, a), link(u"答案"_s, b)}} << QString();
    QTest::newRow("the later of two matches") << Links{{link(u"找答案"_s, a), link(u"找答案"_s, b)}} << b;
    QTest::newRow("a non-match after a match changes nothing")
        << Links{{link(u"找答案"_s, a), link(u"首页"_s, b)}} << a;
    QTest::newRow("spaces around the text do not match") << Links{{link(u" 找答案 "_s, a)}} << QString();
    QTest::newRow("unreadable text counts as a match") << Links{{link(std::nullopt, a)}} << a;
    QTest::newRow("unreadable text after a match replaces it")
        << Links{{link(u"找答案"_s, a), link(std::nullopt, b)}} << b;
    QTest::newRow("unreadable href keeps the earlier match")
        << Links{{link(u"找答案"_s, a), link(u"找答案"_s, std::nullopt)}} << a;
    QTest::newRow("unreadable href and no earlier match")
        << Links{{link(u"找答案"_s, std::nullopt)}} << QString();
    QTest::newRow("unreadable text and href keep the earlier match")
        << Links{{link(u"找答案"_s, a), link(std::nullopt, std::nullopt)}} << a;
    QTest::newRow("a matching empty href replaces the earlier one")
        << Links{{link(u"找答案"_s, a), link(u"找答案"_s, QString())}} << QString();
}

void TestAnswerRules::answerPageLink()
{
    QFETCH(Links, links);
    QFETCH(QString, expected);
    QCOMPARE(Quillory::answerPageLink(links), expected);
}

void TestAnswerRules::cutQuestion_data()
{
    QTest::addColumn<QString>("documentText");
    QTest::addColumn<bool>("needsLookup");
    QTest::addColumn<QString>("answerText");

    const QString question =
        u"<DIV class=\"q\">属性描述：请问该商品的<EM>品牌</EM>是什么？<A href=\"#\">找答案</A></DIV>"_s;

    QTest::newRow("no question marker: fixed answer, no lookup")
        << u"\r<P>hello</P>\rhello"_s << false << TrialSite::reportAnswer;
    QTest::newRow("empty document text: fixed answer") << QString() << false << TrialSite::reportAnswer;
    QTest::newRow("attribute between the markers") << (u"\r"_s + question) << true << u"品牌"_s;
    QTest::newRow("repeated parts of a deep page: the first occurrences decide")
        << (u"\r<BODY>"_s + question + u"</BODY>\r"_s + question + u"\r属性描述：<EM>型号</EM>\r找答案"_s)
        << true << u"品牌"_s;
    QTest::newRow("the first question marker starts the section")
        << u"属性描述 属性描述<EM>颜色</EM>找答案"_s << true << u"颜色"_s;
    QTest::newRow("first markers of the section count")
        << u"属性描述<EM>A</EM>和<EM>B</EM>找答案"_s << true << u"A"_s;
    QTest::newRow("attribute keeps its inner markup")
        << u"属性描述<EM>品<B>牌</B></EM>找答案"_s << true << u"品<B>牌</B>"_s;
    QTest::newRow("end marker right at the attribute start: empty attribute")
        << u"属性描述<EM></EM>找答案"_s << true << QString();
    QTest::newRow("link text missing: empty attribute") << u"属性描述<EM>品牌</EM>"_s << true << QString();
    QTest::newRow("link text only before the question marker: empty attribute")
        << u"找答案 属性描述<EM>品牌</EM>"_s << true << QString();
    QTest::newRow("link text first before, then after the question marker: empty attribute")
        << u"找答案 属性描述<EM>品牌</EM>找答案"_s << true << QString();
    QTest::newRow("end marker missing: the whole section")
        << u"属性描述：<EM>品牌 找答案"_s << true << u"属性描述：<EM>品牌 "_s;
    QTest::newRow("lower-case markers are not recognised: the whole section")
        << u"属性描述<em>品牌</em>找答案"_s << true << u"属性描述<em>品牌</em>"_s;
    QTest::newRow("end marker before the start marker: the whole section")
        << u"属性描述</EM>x<EM>品牌找答案"_s << true << u"属性描述</EM>x<EM>品牌"_s;
    QTest::newRow("end marker only after the section: the whole section")
        << u"属性描述<EM>品牌找答案</EM>"_s << true << u"属性描述<EM>品牌"_s;
    QTest::newRow("start marker missing: cut from the section's fourth character")
        << u"属性描述：品牌</EM>找答案"_s << true << u"述：品牌"_s;
    QTest::newRow("start marker at the section's end: the whole section")
        << u"属性描述<EM>找答案"_s << true << u"属性描述<EM>"_s;
    QTest::newRow("start marker missing, end marker right after the question marker")
        << u"属性描述</EM>找答案"_s << true << u"述"_s;
}

void TestAnswerRules::cutQuestion()
{
    QFETCH(QString, documentText);
    QFETCH(bool, needsLookup);
    QFETCH(QString, answerText);

    const QuestionCut cut = Quillory::cutQuestion(documentText);
    QCOMPARE(cut.needsLookup, needsLookup);
    QCOMPARE(cut.answerText, answerText);
}

namespace {

// A pass on a trial item page that asked for "品牌" and found a product page behind its link.
PassReport askedFor(const QString &answer)
{
    PassReport report;
    report.pageUrl = TrialSite::itemPagePrefix + u"?id=1"_s;
    report.trialItemPage = true;
    report.question = true;
    report.attribute = u"品牌"_s;
    report.answerLink = u"http://item.taobao.com/item.htm?id=2"_s;
    report.answer = answer;
    report.field = FieldWrite::Written;
    return report;
}

PassReport downloaded(PassReport report, DownloadResult::Status status, int httpStatus = 200,
                      DownloadResult::Cause cause = DownloadResult::Cause::None, bool refused = false)
{
    PassReport::Download download;
    download.status = status;
    download.httpStatus = httpStatus;
    download.networkCause = cause;
    download.refused = refused;
    download.elapsedMs = 60000;
    report.download = download;
    report.source = AnswerSource::NoTable;
    return report;
}

PassReport answeredFrom(AnswerSource source, FieldWrite field = FieldWrite::Written)
{
    PassReport report = downloaded(askedFor(u"长春"_s), DownloadResult::Status::Ok);
    report.source = source;
    report.field = field;
    return report;
}

} // namespace

void TestAnswerRules::passStatus_data()
{
    using Status = DownloadResult::Status;
    using Cause = DownloadResult::Cause;
    QTest::addColumn<PassReport>("report");
    QTest::addColumn<QString>("status");

    // What the field holds when no answer was found, and the steps the user can take.
    const QString note = u"答案框里是提示语，不是答案，请勿提交。"_s;
    const QString retryNetwork = u"请检查网络和代理设置，稍后按 Alt+Z 重试。"_s;
    const QString retryLater = u"请稍后按 Alt+Z 重试。"_s;
    const QString lookYourself =
        u"可点“查看答案”看商品页，自己填写；商品页要登录的，请先在本窗口登录淘宝。"_s;
    const QString typeYourself = u"请自己填写答案。"_s;
    const auto failed = [](Status status, int httpStatus, Cause cause = Cause::None, bool refused = false) {
        return downloaded(askedFor(LookupText::noTable), status, httpStatus, cause, refused);
    };

    PassReport other;
    other.pageUrl = u"http://try.taobao.com/list.htm"_s;
    QTest::newRow("not a trial item page")
        << other << u"这不是试用商品页，没有答题。请打开要申请的试用商品页，再按 Alt+Z。"_s;
    PassReport noQuestion = askedFor(TrialSite::reportAnswer);
    noQuestion.question = false;
    QTest::newRow("no question") << noQuestion << u"已答题：本页没有属性问题，已填入“试用报告”。"_s;
    noQuestion.field = FieldWrite::NoField;
    QTest::newRow("no question, no field")
        << noQuestion
        << u"本页没有属性问题，答案是“试用报告”。本页没有答案框，答案只在窗口上方的文本框里。"_s;
    PassReport noLink = askedFor(LookupText::noTable);
    noLink.answerLink.clear();
    noLink.source = AnswerSource::NoTable;
    QTest::newRow("no answer link") << noLink
                                    << u"没有找到答案：本页没有“找答案”链接，查不到“品牌”。"_s + note +
                                           typeYourself;
    QTest::newRow("answered from the list")
        << answeredFrom(AnswerSource::List)
        << u"已答题：“品牌”是“长春”（来自商品页的属性列表），已填入答案框。"_s;
    QTest::newRow("answered from the table")
        << answeredFrom(AnswerSource::Table)
        << u"已答题：“品牌”是“长春”（来自商品页的规格参数表），已填入答案框。"_s;
    QTest::newRow("name only, from the list")
        << answeredFrom(AnswerSource::ListNameOnly)
        << u"已答题，请核对：商品页属性列表里的“品牌”没有写完整，只填入了“长春”。"_s;
    QTest::newRow("name only, from the table, no field")
        << answeredFrom(AnswerSource::TableNameOnly, FieldWrite::NoField)
        << u"答案不完整：商品页规格参数表里的“品牌”没有写完整，只找到“长春”。本页没有答案框，答案只在窗口上方的文本框里。"_s;
    // The fixed not-found text is in the field: the status says that it is no answer, and what to do.
    const QString notFound = u"没有找到答案：商品页上没有“品牌”。"_s + note + lookYourself;
    PassReport tableMiss = answeredFrom(AnswerSource::TableMiss);
    tableMiss.answer = LookupText::tableMiss;
    QTest::newRow("not in the table") << tableMiss << notFound;
    PassReport noTable = answeredFrom(AnswerSource::NoTable);
    noTable.answer = LookupText::noTable;
    QTest::newRow("no table") << noTable << notFound;
    noTable.download->rendered = true;
    QTest::newRow("no table, as the browser shows the page") << noTable << notFound;
    noTable.field = FieldWrite::KeptEdit;
    QTest::newRow("no table, the user's typing kept")
        << noTable
        << u"没有找到答案：商品页上没有“品牌”。答案框里是你自己改过的内容，没有被覆盖。"_s + lookYourself;
    QTest::newRow("connection refused")
        << failed(Status::NetworkError, 0, Cause::ConnectionRefused)
        << u"没有找到答案：商品页下载失败，服务器拒绝了连接。"_s + note + retryNetwork;
    QTest::newRow("host not found") << failed(Status::NetworkError, 0, Cause::HostNotFound)
                                    << u"没有找到答案：商品页下载失败，找不到这个服务器。"_s + note +
                                           retryNetwork;
    QTest::newRow("server hung up") << failed(Status::NetworkError, 0, Cause::RemoteClosed)
                                    << u"没有找到答案：商品页下载失败，服务器中途断开了连接。"_s + note +
                                           retryLater;
    QTest::newRow("body cut short") << failed(Status::NetworkError, 200)
                                    << u"没有找到答案：商品页没有下载完，连接中途断开了。"_s + note +
                                           retryLater;
    QTest::newRow("link that is no address")
        << failed(Status::NetworkError, 0)
        << u"没有找到答案：“找答案”链接不是有效的网址。"_s + note + typeYourself;
    PassReport otherError = failed(Status::NetworkError, 0, Cause::Other);
    otherError.download->errorText = u"Protocol error"_s;
    QTest::newRow("other network error")
        << otherError
        << u"没有找到答案：商品页下载失败，网络出错：“Protocol error”。"_s + note + retryNetwork;
    QTest::newRow("no answer within the limit")
        << failed(Status::TimedOut, 0)
        << u"没有找到答案：等了 60 秒，商品页的服务器没有回应。"_s + note + retryNetwork;
    QTest::newRow("too large") << failed(Status::TooLarge, 200)
                               << u"没有找到答案：商品页太大，没有下载。"_s + note + lookYourself;
    QTest::newRow("HTTP 404") << failed(Status::Ok, 404)
                              << u"没有找到答案：商品页不存在（HTTP 404）。"_s + note + typeYourself;
    QTest::newRow("HTTP 403") << failed(Status::Ok, 403)
                              << u"没有找到答案：服务器不让打开商品页（HTTP 403）。"_s + note +
                                     u"请先在本窗口的网页里登录淘宝，再按 Alt+Z。"_s;
    QTest::newRow("HTTP 503") << failed(Status::Ok, 503)
                              << u"没有找到答案：商品页的服务器出错（HTTP 503）。"_s + note + retryLater;
    QTest::newRow("HTTP 418") << failed(Status::Ok, 418)
                              << u"没有找到答案：商品页打不开（HTTP 418）。"_s + note + lookYourself;
    QTest::newRow("link not a web link")
        << failed(Status::UnsupportedScheme, 0)
        << u"没有找到答案：“找答案”链接不是网页链接（http 或 https），没有下载。"_s + note + typeYourself;
    QTest::newRow("link into the private network")
        << failed(Status::NetworkError, 0, Cause::None, true)
        << u"没有找到答案：“找答案”链接指向本机或内部网络，为安全起见没有下载。"_s + note + typeYourself;
    QTest::newRow("redirect refused")
        << failed(Status::NetworkError, 302, Cause::None, true)
        << u"没有找到答案：“找答案”链接转到了不允许的地址（本机或内部网络、非网页地址，或转了太多次），没有下载。"_s +
               note + typeYourself;
    const QString found = u"找到答案：“品牌”是“长春”（来自商品页的属性列表）。"_s;
    QTest::newRow("no answer field") << answeredFrom(AnswerSource::List, FieldWrite::NoField)
                                     << found + u"本页没有答案框，答案只在窗口上方的文本框里。"_s;
    QTest::newRow("page left") << answeredFrom(AnswerSource::List, FieldWrite::PageLeft)
                               << found + u"网页已经换了，没有填写；答案在窗口上方的文本框里。"_s;
    QTest::newRow("no document") << answeredFrom(AnswerSource::List, FieldWrite::NoDocument)
                                 << found + u"网页里没有可以填写的内容，答案在窗口上方的文本框里。"_s;
    QTest::newRow("page did not answer") << answeredFrom(AnswerSource::List, FieldWrite::NoAnswer)
                                         << found + u"网页没有响应，没有填写；答案在窗口上方的文本框里。"_s;
    QTest::newRow("user's edit kept")
        << answeredFrom(AnswerSource::List, FieldWrite::KeptEdit)
        << found + u"答案框里是你自己改过的内容，自动答题没有覆盖它；按 Alt+Z 可换成找到的答案。"_s;
    PassReport cancelled = askedFor(QString());
    cancelled.field.reset();
    cancelled.cancelled = true;
    QTest::newRow("cancelled") << cancelled << u"已取消答题，答案框保持原样。"_s;
    PassReport stuck;
    stuck.pageUrl = TrialSite::itemPagePrefix + u"?id=1"_s;
    stuck.trialItemPage = true;
    stuck.pageNotResponding = true;
    QTest::newRow("page not responding")
        << stuck << u"网页还没读完就被停止或离开了，没有答题。可以重新打开这一页再答题。"_s;
    // A page's texts stay on one line and short, so that a page cannot fill the window with its own;
    // a "%1" in them is the page's, not a place for another value.
    PassReport hostile = answeredFrom(AnswerSource::List);
    hostile.attribute = u"品\n牌%3\u202e"_s;
    hostile.answer = QString(50, u'长');
    QTest::newRow("page texts on one line, cut short")
        << hostile
        << u"已答题：“品 牌%3 ”是“"_s + QString(40, u'长') + u"…”（来自商品页的属性列表），已填入答案框。"_s;
}

// What the window says of each outcome of a pass that the log line tells apart, by the house rules of
// the words: "已答题" only where the field was written, never a space after a full stop, and the field's
// not-found text never left to pass for an answer.
void TestAnswerRules::passStatus()
{
    QFETCH(PassReport, report);
    QFETCH(QString, status);

    const QString text = passStatusText(report);
    QCOMPARE(text, status);
    QVERIFY(!describePass(report).isEmpty()); // the log line stays
    QCOMPARE(text.startsWith(u"已答题"_s), report.field == FieldWrite::Written &&
                                               report.answer != LookupText::noTable &&
                                               report.answer != LookupText::tableMiss);
    QVERIFY2(!text.contains(u"。 "_s), qPrintable(text));
    if (report.field == FieldWrite::Written &&
        (report.answer == LookupText::noTable || report.answer == LookupText::tableMiss))
        QVERIFY2(text.contains(u"不是答案"_s), qPrintable(text));
}

// The table of every phrase the window says, read as a whole.
void TestAnswerRules::statusWords()
{
    QSet<QByteArray> keys;
    for (const StatusWord &word : Quillory::statusWords()) {
        const QByteArray key(word.key);
        QVERIFY2(!keys.contains(key), word.key);
        keys.insert(key);
        QVERIFY2(!word.words.isEmpty(), word.key);
        // Full-width punctuation in Chinese text, and no ASCII space after it.
        for (const QString &wrong : QStringList{u"。 "_s, u"， "_s, u"： "_s, u","_s, u"("_s, u"!"_s})
            QVERIFY2(!word.words.contains(wrong), word.key);
        // Words no longer said: a page the user never saw, a box that is not above the page, a way to
        // open pages the window does not have.
        for (const QString &gone : QStringList{u"浏览器显示的商品页"_s, u"下面的网页"_s, u"打开别的网页"_s})
            QVERIFY2(!word.words.contains(gone), word.key);
    }
    // The wait as a screen reader is told it holds no count that changes every second.
    QVERIFY(!waitingAnnouncement().contains(u"%"_s) && !waitingAnnouncement().contains(u"秒"_s));
    QVERIFY(!waitingAnnouncement(true).contains(u"秒"_s));
    QCOMPARE(waitingStatusText(3), u"正在下载商品页，已等 3 秒…（按 Esc 或点 × 取消）"_s);
    QCOMPARE(pageStoppedText(), u"已停止这个网页。可以按“后退”回到上一页。"_s);
}

namespace {

// A pane that shows no trial item page: every pass ends at once.
class IdlePane final : public BrowserPane
{
public:
    QString currentUrl() const override { return QStringLiteral("http://try.taobao.com/list.htm"); }
    void navigate(const QUrl &) override {}
    void readPage(const PageReadRequest &, QObject *, std::function<void(const PageSnapshot &)>) override {}
    void writeField(const QString &, const QString &, const QString &, FieldWriteRule, QObject *,
                    std::function<void(FieldWrite)>) override
    {}
    void keepRead(const ReadToKeep &, QObject *, std::function<void(bool)>) override {}
};

} // namespace

void TestAnswerRules::autoAnswerFollowsTheCheckBox_data()
{
    QTest::addColumn<QList<Qt::CheckState>>("clicks");
    QTest::addColumn<int>("interval");

    QTest::newRow("never checked") << QList<Qt::CheckState>{} << 0;
    QTest::newRow("checked") << QList<Qt::CheckState>{Qt::Checked} << 40;
    QTest::newRow("checked, then unchecked") << QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked} << 0;
    QTest::newRow("a third state changes nothing")
        << QList<Qt::CheckState>{Qt::Checked, Qt::PartiallyChecked} << 40;
}

// The interval alone starts and stops the ticks; 0 means none at all.
void TestAnswerRules::autoAnswerFollowsTheCheckBox()
{
    QFETCH(QList<Qt::CheckState>, clicks);
    QFETCH(int, interval);

    IdlePane pane;
    Testing::FakeProductSource source;
    ProductPages productPages(source, Clock::steady(), std::chrono::seconds(60));
    AnsweringPass pass(pane, productPages);
    AutoAnswer autoAnswer(pass, 40);
    QSignalSpy ticks(autoAnswer.timer(), &IntervalTimer::tick);
    for (Qt::CheckState click : clicks)
        autoAnswer.follow(click);
    QCOMPARE(autoAnswer.timer()->interval(), interval);
    QCOMPARE(autoAnswer.timer()->isTicking(), interval > 0);
    if (interval > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, Testing::eventCeilingMs);
    } else {
        // A timer of the mode's interval, started after the clicks, fires three times: a tick would
        // have come before each of them.
        QTimer reference;
        reference.setTimerType(Qt::PreciseTimer);
        QSignalSpy fired(&reference, &QTimer::timeout);
        reference.start(40);
        QTRY_VERIFY_WITH_TIMEOUT(fired.size() >= 3, Testing::eventCeilingMs);
        QCOMPARE(ticks.size(), 0);
    }
}

QTEST_GUILESS_MAIN(TestAnswerRules)
#include "tst_answerrules.moc"
