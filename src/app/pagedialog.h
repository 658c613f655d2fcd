#pragma once

#include <QDialog>
#include <QUrl>

class QCheckBox;
class QLineEdit;

namespace Quillory {

// A page's alert, confirm or prompt. It does not block the window: Back, the check box and the
// window's close button keep working while it is up. From a page's second dialog on it offers to stop
// further dialogs from that page. The message is shown as plain text that wraps, inside long words
// too, and scrolls; the dialog never grows past a part of the screen, and the page's texts are cut
// short so that no layout of them holds up the window.
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

    // The most of a page's texts a dialog holds, in UTF-16 code units. Wrapping a word costs time that
    // grows with the square of its length, so the message is held shorter than the prompt's text, which
    // stays on one line (64 KiB).
    static constexpr qsizetype messageMax = 8 * 1024;
    static constexpr qsizetype promptMax = 32 * 1024;

    PageDialog(Kind kind, const QUrl &origin, const QString &message, const QString &defaultText,
               bool offerToStop, QWidget *parent);

    QString text() const;
    bool stopAsked() const;

    // The room a dialog has on the screen its parent is on: the same part of it for every dialog.
    static QSize roomOn(const QWidget *parent);

private:
    QLineEdit *m_input = nullptr;
    QCheckBox *m_stop = nullptr;
};

// `text` cut to at most `max` UTF-16 code units, never inside a surrogate pair.
QString cutAtCodePoint(const QString &text, qsizetype max);

} // namespace Quillory
