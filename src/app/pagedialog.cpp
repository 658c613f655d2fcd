#include "pagedialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// Narrower than this, a short message would make a dialog too small to find on the screen.
constexpr int kMessageMinWidth = 240;

// The page's message, read-only: as wide as its longest line up to the room it has, as tall as its
// wrapped text up to the same, and scrolling beyond.
class MessageView final : public QTextEdit
{
public:
    MessageView(const QString &message, QSize room, QWidget *parent) : QTextEdit(parent)
    {
        setReadOnly(true);
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // A word longer than a line breaks where the line ends, so nothing ever needs a sideways scroll.
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setPlainText(message); // the page's words, never markup of ours
        m_hint = fittedSize(message, room);
    }

    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override
    {
        return {qMin(m_hint.width(), kMessageMinWidth), fontMetrics().height() * 2};
    }

private:
    QSize fittedSize(const QString &message, QSize room)
    {
        const int frame = 2 * frameWidth() + 2 * int(std::ceil(document()->documentMargin()));
        const int width = qBound(qMin(kMessageMinWidth, room.width()),
                                 widestLine(message, room.width()) + frame, room.width());
        document()->setTextWidth(width - 2 * frameWidth());
        const int height = int(std::ceil(document()->size().height())) + 2 * frameWidth();
        if (height <= room.height())
            return {width, height};
        return {qMin(room.width(), width + verticalScrollBar()->sizeHint().width()), room.height()};
    }

    // The width of the message's widest line, measured no further than `room` pixels into any line: a
    // character is at least a pixel wide.
    int widestLine(const QString &message, int room) const
    {
        int widest = 0;
        for (const QStringView line : QStringView(message).tokenize(u'\n')) {
            widest = qMax(widest, fontMetrics().horizontalAdvance(line.left(room).toString()));
            if (widest >= room)
                break;
        }
        return widest;
    }

    QSize m_hint;
};

} // namespace

QString cutAtCodePoint(const QString &text, qsizetype max)
{
    if (text.size() <= max)
        return text;
    qsizetype kept = max;
    if (kept > 0 && text[kept - 1].isHighSurrogate() && text[kept].isLowSurrogate())
        --kept;
    return text.first(kept);
}

QSize PageDialog::roomOn(const QWidget *parent)
{
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(800, 600);
    return available * 2 / 3;
}

PageDialog::PageDialog(Kind kind, const QUrl &origin, const QString &message, const QString &defaultText,
                       bool offerToStop, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"PageDialog"_s);
    setWindowModality(Qt::NonModal);
    const QString host = origin.host();
    setWindowTitle(host.isEmpty() ? u"此网页显示"_s : host + u" 上的网页显示"_s);
    const QSize room = roomOn(parent);
    setMaximumSize(room);

    auto *layout = new QVBoxLayout(this);
    // What the layout puts around the message and below it is taken from the room it may have.
    const QMargins margins = layout->contentsMargins();
    const int below = fontMetrics().height() * (kind == Kind::Prompt ? 6 : 4);
    const QSize messageRoom(
        room.width() - margins.left() - margins.right(),
        qMax(fontMetrics().height() * 2, room.height() - margins.top() - margins.bottom() - below));
    const QString shown =
        message.size() > messageMax ? cutAtCodePoint(message, messageMax) + u"…"_s : message;
    auto *messageView = new MessageView(shown, messageRoom, this);
    messageView->setAccessibleName(u"网页的消息"_s);
    layout->addWidget(messageView, 1);
    if (kind == Kind::Prompt) {
        m_input = new QLineEdit(this);
        m_input->setMaxLength(int(promptMax));
        m_input->setText(cutAtCodePoint(defaultText, promptMax));
        m_input->setAccessibleName(u"输入的内容"_s);
        layout->addWidget(m_input);
    }
    if (offerToStop) {
        m_stop = new QCheckBox(u"禁止此网页再显示对话框"_s, this);
        layout->addWidget(m_stop);
    }
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(u"确定"_s, QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    if (kind != Kind::Alert)
        buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // The keys go where a dialog's keys go: the text to type, or the button that answers.
    if (m_input)
        m_input->setFocus();
    else
        ok->setFocus();
}

QString PageDialog::text() const
{
    return m_input ? m_input->text() : QString();
}

bool PageDialog::stopAsked() const
{
    return m_stop && m_stop->isChecked();
}

} // namespace Quillory
