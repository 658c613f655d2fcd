#include "stuckpagebar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// The bar as a screen reader finds it: a notification, which screen readers speak when it comes up (an
// alert event goes unsent over AT-SPI, and the bar never takes the focus from the page on its own).
QAccessibleInterface *barAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1StringView(StuckPageBar::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Notification);
    return nullptr;
}

} // namespace

StuckPageBar::StuckPageBar(QWidget *parent) : QFrame(parent)
{
    static const bool accessibleAsNotification = (QAccessible::installFactory(barAccessible), true);
    Q_UNUSED(accessibleAsNotification);

    setObjectName(u"StuckPageBar"_s);
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    m_text = new QLabel(u"此网页没有响应：网页上的脚本可能卡住了。"_s, this);
    m_text->setWordWrap(true);
    m_stop = new QPushButton(u"停止网页"_s, this);
    m_stop->setObjectName(u"StopPage"_s);
    m_wait = new QPushButton(u"等待"_s, this);
    m_wait->setObjectName(u"WaitForPage"_s);
    for (QPushButton *button : {m_stop, m_wait})
        button->setAutoDefault(false);

    setAccessibleName(u"网页没有响应"_s);
    setAccessibleDescription(m_text->text());
    m_text->setAccessibleName(m_text->text());
    m_stop->setAccessibleName(m_stop->text());
    m_stop->setAccessibleDescription(u"结束这个网页，之后可以后退或打开别的网页"_s);
    m_wait->setAccessibleName(m_wait->text());
    m_wait->setAccessibleDescription(u"继续等这个网页；它一直没有响应的话，过一会儿会再提示"_s);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_stop);
    layout->addWidget(m_wait);

    connect(m_stop, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT stopRequested();
    });
    connect(m_wait, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

void StuckPageBar::offer()
{
    if (isVisible())
        return;
    placeIn(m_area);
    show(); // comes up: screen readers speak it
    raise();
}

void StuckPageBar::placeIn(const QRect &area)
{
    m_area = area;
    const int wrapped = heightForWidth(area.width()); // the text wraps in a narrow pane
    setGeometry(area.left(), area.top(), area.width(),
                qMin(area.height(), wrapped > 0 ? wrapped : sizeHint().height()));
}

} // namespace Quillory
