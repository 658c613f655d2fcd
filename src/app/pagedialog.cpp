#include "pagedialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {
constexpr qsizetype kMessageMax = 2000;
} // namespace

PageDialog::PageDialog(Kind kind, const QUrl &origin, const QString &message, const QString &defaultText,
                       bool offerToStop, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"PageDialog"_s);
    setWindowModality(Qt::NonModal);
    const QString host = origin.host();
    setWindowTitle(host.isEmpty() ? u"此网页显示"_s : host + u" 上的网页显示"_s);

    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(this);
    label->setTextFormat(Qt::PlainText); // the page's words, never markup of ours
    label->setWordWrap(true);
    label->setText(message.size() > kMessageMax ? message.first(kMessageMax) + u"…"_s : message);
    layout->addWidget(label);
    if (kind == Kind::Prompt) {
        m_input = new QLineEdit(defaultText, this);
        layout->addWidget(m_input);
    }
    if (offerToStop) {
        m_stop = new QCheckBox(u"禁止此网页再显示对话框"_s, this);
        layout->addWidget(m_stop);
    }
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(u"确定"_s, QDialogButtonBox::AcceptRole)->setDefault(true);
    if (kind != Kind::Alert)
        buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
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
