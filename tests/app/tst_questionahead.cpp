#include "answer/answeringpass.h"
#include "answer/passrules.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "browsertest.h"
#include "pagetext/documenttext.h"
#include "trialsitefixture.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;

// The question cut while the trial page sits idle, and what the page keeps of it as it changes.
class QuestionAheadTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void keptQuestionAnswersAsAFreshRead_data();
    void keptQuestionAnswersAsAFreshRead();
    void pageTickingAllAlongKeepsItsQuestion();

private:
    QVariant inPage(const QString &source) { return evaluateInPage(*m_window->page(), source); }
    void openTrialPage(const QString &url, const QString &html)
    {
        servePage(url, html);
        QVERIFY(loadAndWait(*m_window->page(), QUrl(url)));
    }

    std::unique_ptr<Form1> m_window;
};

void QuestionAheadTest::init()
{
    clearPages();
    m_window = std::make_unique<Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void QuestionAheadTest::cleanup()
{
    m_window.reset();
}

void QuestionAheadTest::keptQuestionAnswersAsAFreshRead_data()
{
    QTest::addColumn<QString>("change"); // made in the page just before the key
    QTest::addColumn<bool>("kept");      // the pass may take the question cut ahead
    QTest::addColumn<QString>("attribute");

    QTest::newRow("nothing changed") << QString() << true << u"品牌"_s;
    QTest::newRow("a countdown rewrites its text node")
        << u"document.getElementById('countdown').firstChild.data = '00:09:58'"_s << true << u"品牌"_s;
    QTest::newRow("a countdown replaces its text")
        << u"document.getElementById('countdown').textContent = '00:09:57'"_s << true << u"品牌"_s;
    QTest::newRow("a banner changes its class")
        << u"document.getElementById('banner').className = 'banner on'"_s << true << u"品牌"_s;
    QTest::newRow("text forms the question marker across two text nodes")
        << u"document.getElementById('split').appendChild(document.createTextNode('描述'))"_s << false
        << u"品牌"_s;
    QTest::newRow("text forms the question marker across two text nodes, with an attribute after it")
        << u"const s = document.getElementById('split'); s.appendChild(document.createTextNode('描述')); "
           u"s.appendChild(document.createElement('em')).textContent = '颜色'"_s
        << false << u"颜色"_s;
    QTest::newRow("the link text written into a far-away node, before the question")
        << u"document.getElementById('countdown').firstChild.data = '找答案'"_s << false << QString();
    QTest::newRow("an attribute holding markers")
        << u"document.getElementById('banner').title = '<EM>尺寸</EM>'"_s << false << u"品牌"_s;
    QTest::newRow("an attribute before the question holding all markers")
        << u"document.getElementById('banner').title = '属性描述<EM>尺寸</EM>'"_s << false << u"尺寸"_s;
    QTest::newRow("the question's own text changed")
        << u"document.querySelector('.question em.c').lastChild.firstChild.firstChild.data = '颜色'"_s
        << false << u"颜色"_s;
    QTest::newRow("the head taken out") << u"document.head.remove()"_s << false << u"品牌"_s;
    QTest::newRow("the body replaced by a text node")
        << u"document.body.replaceWith('属性描述：请问颜色找答案')"_s << false << u"属性描述：请问颜色"_s;
    QTest::newRow("a class changed on an em element around the attribute")
        << u"document.querySelector('.question em.c').className = 'd'"_s << true << u"品牌"_s;
    QTest::newRow("the last attribute taken from an em element around the attribute")
        << u"document.querySelector('.question em.c').removeAttribute('class')"_s << false
        << u"该商品的<EM class=\"s\"><EM>品牌"_s;
    QTest::newRow("the last attribute taken from an SVG element named EM around the attribute")
        << u"document.querySelector('.question [class=s]').removeAttribute('class')"_s << false
        << u"<EM>品牌"_s;
    QTest::newRow("an element added far away")
        << u"document.body.appendChild(document.createElement('p')).textContent = 'x'"_s << false
        << u"品牌"_s;
}

// A pass that takes the question cut ahead of the key never answers otherwise than a fresh read would,
// however the page changed just before the key.
void QuestionAheadTest::keptQuestionAnswersAsAFreshRead()
{
    QFETCH(QString, change);
    QFETCH(bool, kept);
    QFETCH(QString, attribute);

    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    QSignalSpy keptReads(&m_window->answeringPass()->questionAhead(), &QuestionAhead::readKept);
    // The attribute stands inside an em element with a class and, inside that, an SVG element named EM
    // with a class (put there by the page's script: the parser makes no such element).
    const QString question = u"属性描述：请问<em class=\"c\">该商品的<em>品牌</em></em>是什么？"_s;
    const QString wrap = u"<script>const inner = document.querySelector('.question em em');"
                         u"const svg = document.createElementNS('http://www.w3.org/2000/svg', 'EM');"
                         u"svg.setAttribute('class', 's'); inner.replaceWith(svg); svg.appendChild(inner);"
                         u"</script>"_s;
    openTrialPage(trialItemUrl, u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"
                                u"<p id=\"banner\" class=\"banner\">新品</p><b id=\"countdown\">00:09:59</b>"
                                u"<b id=\"split\">属性</b>"_s +
                                    trialPage(question, {productUrl}, wrap).section(u"<body>"_s, 1));
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(keptReads.contains(QVariantList{true}), 10000);

    std::optional<PassReport> report;
    connect(m_window->answeringPass(), &AnsweringPass::reported, this,
            [&](const PassReport &passReport) { report = passReport; });
    if (!change.isEmpty())
        inPage(change);
    m_window->answeringPass()->request();
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(report.has_value(), 10000);
    QCOMPARE(report->pageRead == PageRead::Kept, kept);
    QCOMPARE(report->attribute, attribute);

    // A fresh read of the page as it is now cuts the same.
    std::optional<QString> fresh;
    PageReadRequest read;
    read.part = ElementPart::InnerHtml;
    read.scope = ElementScope::RootOnly;
    readDocumentText(*m_window->page(), read, this, [&](const PageSnapshot &, const QString &text) {
        fresh = cutQuestion(text).answerText;
    });
    QUILLORY_TRY_VERIFY(fresh.has_value());
    QCOMPARE(*fresh, report->attribute);
}

// A countdown that ticks from the start, faster than a read and the window's word on it: the changes
// made between the two are judged when the word comes, and the question is kept all the same.
void QuestionAheadTest::pageTickingAllAlongKeepsItsQuestion()
{
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    QSignalSpy keptReads(&m_window->answeringPass()->questionAhead(), &QuestionAhead::readKept);
    openTrialPage(
        trialItemUrl,
        trialPage(brandQuestion(), {productUrl},
                  u"<b id=\"countdown\">0</b><script>const c = document.getElementById('countdown');"
                  u"let n = 0; setInterval(() => { c.firstChild.data = String(++n); }, 2);</script>"_s));
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(keptReads.contains(QVariantList{true}), 10000);

    std::optional<PassReport> report;
    connect(m_window->answeringPass(), &AnsweringPass::reported, this,
            [&](const PassReport &passReport) { report = passReport; });
    m_window->answeringPass()->request();
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(report.has_value(), 10000);
    QVERIFY(report->pageRead == PageRead::Kept);
    QCOMPARE(report->answer, u"长春"_s);
}

QUILLORY_BROWSER_TEST_MAIN(QuestionAheadTest, TrialSiteFixture::startProxy)
#include "tst_questionahead.moc"
