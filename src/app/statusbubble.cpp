#include "statusbubble.h"

#include "answer/passstatus.h"

#include <QAccessible>
#include <QMouseEvent>

using namespace Qt::StringLiterals;

namespace Quillory {

StatusBubble::StatusBubble(QWidget *parent) : QLabel(parent)
{
    setObjectName(u"StatusBubble"_s);
    // Page texts are shown as they are: never read as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    setMargin(3);
    setAccessibleName(u"答题状态"_s);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StatusBubble::showSeconds);
    hide();
}

void StatusBubble::showText(const QString &text)
{
    m_tick.stop();
    m_stillLoading = false;
    setCursor(Qt::ArrowCursor);
    setShown(text);
}

void StatusBubble::showWaiting()
{
    m_waited.start();
    m_tick.start();
    setCursor(Qt::PointingHandCursor);
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
    const int width = qMin(area.width(), qMax(sizeHint().width(), area.width() / 2));
    const int height = qMin(area.height(), heightForWidth(width));
    setGeometry(area.left(), area.bottom() + 1 - height, width, height);
}

void StatusBubble::mousePressEvent(QMouseEvent *event)
{
    if (m_tick.isActive() && event->button() == Qt::LeftButton)
        Q_EMIT cancelRequested();
    QLabel::mousePressEvent(event);
}

// A text that does not change is neither repainted nor announced again: auto-answer repeats its pass
// every few seconds.
void StatusBubble::setShown(const QString &text)
{
    if (text == this->text() && isVisible())
        return;
    setText(text);
    setAccessibleDescription(text);
    placeIn(m_area);
    show();
    raise();
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void StatusBubble::showSeconds()
{
    setShown(waitingStatusText(m_waited.elapsed() / 1000, m_stillLoading));
}

} // namespace Quillory
