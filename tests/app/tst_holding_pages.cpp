#include "app/browserpage.h"
#include "app/pagedialog.h"
#include "hostiletest.h"
#include "trialsitefixture.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>

#include <optional>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::Hostile;
using namespace Quillory::Testing::TrialSiteFixture;

// Pages that would hold the window or the user on them: dialogs with huge texts. Whatever a page does,
// the window keeps working and the user can leave.
class HoldingPagesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void hugeDialogTextStaysBounded_data();
    void hugeDialogTextStaysBounded();

private:
    std::unique_ptr<Form1> m_window;
};

void HoldingPagesTest::init()
{
    clearPages();
    openWindow(m_window);
}

void HoldingPagesTest::cleanup()
{
    m_window.reset();
}

void HoldingPagesTest::hugeDialogTextStaysBounded_data()
{
    QTest::addColumn<QString>("call");  // sets the title to what the dialog gave back
    QTest::addColumn<QString>("typed"); // typed into the prompt before it is answered
    QTest::addColumn<QString>("title");

    // "😀" is two code units: the cut falls between the two halves of one, and keeps neither.
    QTest::newRow("alert with a 10 MB word")
        << u"alert('x'.repeat(10 * 1024 * 1024)), 'shown'"_s << QString() << u"shown"_s;
    QTest::newRow("confirm with 10 MB of short lines")
        << u"String(confirm('a line\\n'.repeat(1024 * 1024)))"_s << QString() << u"true"_s;
    QTest::newRow("prompt with a 10 MB default")
        << u"String(prompt('?', 'a' + '\\u{1F600}'.repeat(5 * 1024 * 1024)).length)"_s << u"zz"_s
        << QString::number(PageDialog::promptMax);
}

// A page's dialog with a huge text: the dialog fits in its part of the screen, its message wraps inside
// the word and scrolls, the prompt holds a bounded default cut whole, and typing into it still works.
void HoldingPagesTest::hugeDialogTextStaysBounded()
{
    QFETCH(QString, call);
    QFETCH(QString, typed);
    QFETCH(QString, title);

    servePage(trialItemUrl, u"<html><body><script>addEventListener('load', () => setTimeout(() => {"
                            u" document.title = ("_s +
                                call + u"); }, 0));</script></body></html>"_s);
    // What the dialog showed, read while it is up (the page waits for it, and so does everything below
    // its event loop).
    struct Shown
    {
        QSize size;
        qsizetype messageSize = 0;
        int sidewaysScroll = -1;
        QString prompt;
        QString typedInto;
    };
    std::optional<Shown> shown;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        QTimer::singleShot(0, dialog, [&, dialog] {
            const auto *message = dialog->findChild<QTextEdit *>();
            Shown seen{dialog->size(), message->toPlainText().size(),
                       message->horizontalScrollBar()->maximum(), QString(), QString()};
            if (auto *input = dialog->findChild<QLineEdit *>()) {
                seen.prompt = input->text();
                QTest::keyClick(input, Qt::Key_End); // the default comes selected, to be typed over
                QTest::keyClicks(input, typed);
                seen.typedInto = input->text();
            }
            shown = seen;
            QTest::keyClick(dialog, Qt::Key_Return);
        });
    });
    m_window->page()->load(QUrl(trialItemUrl));
    QUILLORY_TRY_COMPARE_WITH_TIMEOUT(m_window->page()->title(), title, 10000);

    QVERIFY(shown);
    const QSize room = PageDialog::roomOn(m_window.get());
    QVERIFY2(shown->size.width() <= room.width() && shown->size.height() <= room.height(),
             qPrintable(u"%1×%2 in %3×%4"_s.arg(shown->size.width())
                            .arg(shown->size.height())
                            .arg(room.width())
                            .arg(room.height())));
    QVERIFY(shown->messageSize <= PageDialog::messageMax + 1);
    QCOMPARE(shown->sidewaysScroll, 0); // the long word wraps
    if (!typed.isEmpty()) {
        QCOMPARE(shown->prompt.size(), PageDialog::promptMax - 1); // not half of the last "😀"
        QVERIFY(!shown->prompt.back().isHighSurrogate());
        // As much as the prompt holds: the first character typed fills it.
        QCOMPARE(shown->typedInto, shown->prompt + typed.front());
    }
}

QUILLORY_BROWSER_TEST_MAIN(HoldingPagesTest, TrialSiteFixture::startProxy)
#include "tst_holding_pages.moc"
