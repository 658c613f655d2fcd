#pragma once

#include <QDialog>
#include <QUrl>

class QCheckBox;
class QLineEdit;

namespace Quillory {

// A page's alert, confirm or prompt. It does not block the window: Back, the check box and the
// window's close button keep working while it is up. From a page's second dialog on it offers to stop
// further dialogs from that page. The message is shown as plain text, cut short when very long.
class PageDialog final : public QDialog
{
    Q_OBJECT

public:
    enum class Kind
    {
        Alert,
        Confirm,
        Prompt,
    };

    PageDialog(Kind kind, const QUrl &origin, const QString &message, const QString &defaultText,
               bool offerToStop, QWidget *parent);

    QString text() const;
    bool stopAsked() const;

private:
    QLineEdit *m_input = nullptr;
    QCheckBox *m_stop = nullptr;
};

} // namespace Quillory
