#include "statusbubble.h"

#include "answer/passstatus.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

#include <array>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// The bubble as a screen reader finds it: a notification, named by what it says. Screen readers speak a
// notification when it comes up; a label that changes goes unsaid unless it has the focus, and the
// status never takes the focus from the page.
class StatusAccessible final : public QAccessibleWidget
{
public:
    explicit StatusAccessible(QWidget *bubble) : QAccessibleWidget(bubble, QAccessible::Notification) {}
};

QAccessibleInterface *statusAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1StringView(StatusBubble::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new StatusAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

// The corners the bubble may stand in, in the order it tries them: where a browser shows its status,
// then the other corners of the pane, for a pointer that stands where the first would be.
enum class Corner
{
    LowerLeft,
    LowerRight,
    UpperRight,
    UpperLeft,
};
constexpr std::array corners{Corner::LowerLeft, Corner::LowerRight, Corner::UpperRight, Corner::UpperLeft};

constexpr int kMargin = 4;

} // namespace

StatusBubble::StatusBubble(QWidget *parent) : QLabel(parent)
{
    static const bool accessibleAsNotification = (QAccessible::installFactory(statusAccessible), true);
    Q_UNUSED(accessibleAsNotification);

    setObjectName(u"StatusBubble"_s);
    // Page texts are shown as they are: never read as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAutoFillBackground(true);
    // Its border is drawn around the whole box, the × inside it (paintEvent): a frame of its own would
    // leave out the room kept for the ×.
    setFrameShape(QFrame::NoFrame);
    // Named from the start: a label without a name of its own tells screen readers of every new text
    // (the seconds of a wait among them); this one is named by what it announces (setShown).
    setAccessibleName(u"答题状态"_s);
    // Every click goes to the page below; the × is a control of its own beside the bubble.
    setAttribute(Qt::WA_TransparentForMouseEvents);

    m_close = new QToolButton(parent);
    m_close->setObjectName(u"StatusBubbleClose"_s);
    m_close->setText(u"×"_s);
    m_close->setAutoRaise(true);
    m_close->setFocusPolicy(Qt::NoFocus); // a click on it leaves the keyboard where it was
    m_close->setAccessibleName(u"关闭答题状态"_s);
    m_close->hide();
    connect(m_close, &QToolButton::clicked, this, &StatusBubble::closeClicked);

    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StatusBubble::showSeconds);
    hide();
}

void StatusBubble::showText(const QString &text)
{
    m_tick.stop();
    m_stillLoading = false;
    setShown(text, text);
}

void StatusBubble::showWaiting()
{
    m_waited.start();
    m_tick.start();
    showSeconds();
}

void StatusBubble::markStillLoading()
{
    m_stillLoading = true;
    if (m_tick.isActive())
        showSeconds();
}

void StatusBubble::clear()
{
    m_tick.stop();
    m_stillLoading = false;
    QLabel::clear();
    hide();
}

void StatusBubble::placeIn(const QRect &area)
{
    m_area = area;
    if (isVisible())
        place();
}

// A text that does not change is neither repainted nor told again: auto-answer repeats its pass every
// few seconds. A new announcement is told by the name changing and the notification coming up.
void StatusBubble::setShown(const QString &text, const QString &announcement)
{
    const bool visible = isVisible();
    if (text == this->text() && visible)
        return;
    const bool told = announcement != m_announced || !visible;
    setText(text);
    const int side = fontMetrics().height() + 2;
    m_close->setFixedSize(side, side);
    m_close->setAccessibleName(m_tick.isActive() ? u"取消答题"_s : u"关闭答题状态"_s);
    setContentsMargins(kMargin + 1, kMargin / 2 + 1, kMargin + side + 1, kMargin / 2 + 1);
    if (announcement != m_announced) {
        m_announced = announcement;
        setAccessibleName(announcement);
    }
    if (!visible) {
        m_corner = 0; // a new status starts where a browser shows it, unless the pointer is there
        place();
        avoidPointer(QCursor::pos());
        show(); // comes up: told
    } else {
        place();
        if (told) {
            QAccessibleEvent shown(this, QAccessible::ObjectShow);
            QAccessible::updateAccessibility(&shown);
        }
    }
    raise();
    m_close->raise();
    if (told)
        Q_EMIT this->told(announcement);
}

void StatusBubble::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void StatusBubble::showSeconds()
{
    setShown(waitingStatusText(m_waited.elapsed() / 1000, m_stillLoading),
             waitingAnnouncement(m_stillLoading));
}

void StatusBubble::closeClicked()
{
    if (m_tick.isActive())
        Q_EMIT cancelRequested();
    else
        hide();
}

// As wide as its text on one line, up to three quarters of the pane, wrapped below that; as low as the
// wrapped text.
QRect StatusBubble::placeAt(int corner) const
{
    const QMargins margins = contentsMargins();
    const int chrome = margins.left() + margins.right() + 2 * (frameWidth() + margin());
    const int most = qMax(1, m_area.width() * 3 / 4);
    int width = qMin(most, fontMetrics().horizontalAdvance(text()) + chrome);
    // The text's own layout may need a little more than its advance to stay on one line.
    const int oneLine = heightForWidth(QWIDGETSIZE_MAX);
    while (width < most && heightForWidth(width) > oneLine)
        width = qMin(most, width + qMax(1, fontMetrics().averageCharWidth()));
    const int height = qMin(m_area.height(), heightForWidth(width));
    const Corner where = corners.at(std::size_t(corner));
    const bool right = where == Corner::LowerRight || where == Corner::UpperRight;
    const bool lower = where == Corner::LowerLeft || where == Corner::LowerRight;
    return QRect(right ? m_area.right() + 1 - width : m_area.left(),
                 lower ? m_area.bottom() + 1 - height : m_area.top(), width, height);
}

void StatusBubble::place()
{
    const QRect at = placeAt(m_corner);
    setGeometry(at);
    m_close->move(at.right() - m_close->width() - 1, at.top() + 1);
    Q_EMIT moved();
}

// The pointer over the bubble's text sends it to the first corner where the pointer is not. Over the
// ×, or in the strip above and below it, the bubble stays: the user is reaching for it.
void StatusBubble::avoidPointer(QPoint global)
{
    if (!parentWidget())
        return;
    const QPoint at = parentWidget()->mapFromGlobal(global);
    const QRect here = geometry();
    const QRect reach(m_close->x() - 2, here.top(), here.right() - m_close->x() + 3, here.height());
    if (!here.contains(at) || reach.contains(at))
        return;
    for (int corner = 0; corner < int(corners.size()); ++corner) {
        if (!placeAt(corner).contains(at)) {
            m_corner = corner;
            place();
            return;
        }
    }
}

bool StatusBubble::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove)
        avoidPointer(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
    return QLabel::eventFilter(watched, event);
}

// The pointer is watched only while the bubble is up.
void StatusBubble::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    qApp->installEventFilter(this);
    m_close->show();
    m_close->raise();
    Q_EMIT moved();
}

void StatusBubble::hideEvent(QHideEvent *event)
{
    QLabel::hideEvent(event);
    qApp->removeEventFilter(this);
    m_close->hide();
    Q_EMIT moved();
}

AddressBubble::AddressBubble(QWidget *parent) : QLabel(parent)
{
    setObjectName(u"AddressBubble"_s);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    setMargin(kMargin / 2);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(u"网址"_s);
    qApp->installEventFilter(this);
    hide();
}

void AddressBubble::showLink(const QString &url)
{
    m_link = url;
    refresh();
}

void AddressBubble::placeIn(const QRect &area, const QRect &below)
{
    m_area = area;
    m_below = below;
    if (isVisible())
        place();
}

// The link under the pointer first, as in a browser; the page's address while Alt is held alone.
void AddressBubble::refresh()
{
    QString shown;
    if (!m_link.isEmpty())
        shown = m_link;
    else if (m_altHeld && m_pageAddress)
        shown = pageAddressText(m_pageAddress());
    if (shown.isEmpty()) {
        hide();
        return;
    }
    // A page's text on one line: its control characters shown as spaces.
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = u' ';
    }
    const int most = qMax(1, m_area.width() * 2 / 3 - 2 * (frameWidth() + margin()));
    setText(fontMetrics().elidedText(shown, Qt::ElideMiddle, most));
    m_right = false;
    place();
    show();
    raise();
}

void AddressBubble::place()
{
    const QSize size = sizeHint().boundedTo(m_area.size());
    const int bottom = m_below.isEmpty() ? m_area.bottom() : m_below.top() - 1;
    setGeometry(m_right ? m_area.right() + 1 - size.width() : m_area.left(), bottom + 1 - size.height(),
                size.width(), size.height());
}

bool AddressBubble::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Alt alone shows the address; any other key with it (an access key) puts it away.
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool altAlone = key->key() == Qt::Key_Alt && !(key->modifiers() & ~Qt::AltModifier);
        if (altAlone != m_altHeld && !key->isAutoRepeat()) {
            m_altHeld = altAlone;
            refresh();
        }
        break;
    }
    case QEvent::KeyRelease:
        if (m_altHeld && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Alt) {
            m_altHeld = false;
            refresh();
        }
        break;
    case QEvent::ApplicationDeactivate:
        if (m_altHeld) {
            m_altHeld = false;
            refresh();
        }
        break;
    case QEvent::MouseMove:
        if (isVisible() && parentWidget()) {
            const QPoint at =
                parentWidget()->mapFromGlobal(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
            if (geometry().contains(at)) {
                m_right = !m_right;
                place();
            }
        }
        break;
    default:
        break;
    }
    return QLabel::eventFilter(watched, event);
}

} // namespace Quillory
