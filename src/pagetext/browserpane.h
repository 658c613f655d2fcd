#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace Quillory {

// One link of the shown document: its text and its target as an absolute URL.
// An empty optional is a read that failed.
struct PageLink
{
    std::optional<QString> text;
    std::optional<QString> href;
};

enum class ElementPart
{
    InnerHtml, // markup with element names as tagName gives them ("<EM>" for an em element)
    InnerText,
};

enum class ElementScope
{
    AllElements, // every element in document order, an enclosing element before those inside it
    RootOnly,    // the root element alone: its part holds every marker the whole text holds
};

struct PageReadRequest
{
    std::optional<ElementPart> part; // no part: the elements are not read
    ElementScope scope = ElementScope::AllElements;
    bool withLinks = false;
    // Markup by our own walk of the document, element by element, rather than from the engine's own
    // serialization (documenttext.h puts the latter right, and asks for this when it cannot).
    bool exact = false;
    // When the engine's markup of the document lacks this text, no part is read: the document text
    // will lack it too. Empty: the parts are read whatever they hold. Without a part, the snapshot
    // says whether the markup holds it.
    QString requiredText;
};

// The engine's own serialization of the root element's inner markup, which writes HTML element names
// in lower case, with what it takes to put them right: the tagName of every element inside the root,
// in document order, or, when the page has checked that every element is an HTML element and no text
// can pass for a tag, only how many elements there are (each tagName is then its name in upper case).
struct EngineMarkup
{
    QString markup;
    QStringList tagNames;
    std::optional<qsizetype> htmlElementCount;
};

// What one read of the shown document returned, as the engine gave it.
struct PageSnapshot
{
    bool hasDocument = false;
    ElementScope scope = ElementScope::AllElements;
    // The elements' parts as read one by one (an empty optional: that element's part could not be
    // read), or the engine's markup of the root element (documenttext.h).
    QList<std::optional<QString>> elementParts;
    std::optional<EngineMarkup> engineMarkup;
    std::optional<QList<PageLink>> links;  // empty optional: the link list could not be read
    QString documentToken;                 // names the document that was read, for writing back to it
    std::optional<bool> holdsRequiredText; // asked for without a part
    // How long the read took in the page; when the page's answer arrived, and when it had been made
    // into this snapshot (timemark.h).
    qint64 scriptNs = 0;
    qint64 answeredNs = 0;
    qint64 madeNs = 0;
};

// What became of writing the answer field.
enum class FieldWrite
{
    Written,
    NoField,    // the document has no element of that name
    PageLeft,   // the pane shows another document now: nothing was written
    NoDocument, // there was no document to write into
    NoAnswer,   // the page never answered the write (it went away, or its script is stuck)
    KeptEdit,   // the user typed into the field since the last write on this page: it stays
};

// Whether a write may replace what the user typed into the field.
enum class FieldWriteRule
{
    Always,       // the user asked for this answer
    KeepUserEdit, // a pass the user did not start leaves the user's own typing alone
};

// The operations the page-text and answer layers perform on the window's browser pane. The window
// implements it on the browser engine; tests implement it on plain data. Reads are asynchronous: the
// callback runs later on the calling thread, and never once `context` has been destroyed.
class BrowserPane
{
public:
    virtual ~BrowserPane() = default;

    virtual QString currentUrl() const = 0;
    virtual void navigate(const QUrl &url) = 0;
    virtual void readPage(const PageReadRequest &request, QObject *context,
                          std::function<void(const PageSnapshot &)> done) = 0;
    // Sets the value of the first element named `fieldName`, as typing would, but only while the pane
    // still shows the document that `documentToken` names, and under `rule` only where the user has not
    // typed into it since the last write. `done` gets what became of it.
    virtual void writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                            FieldWriteRule rule, QObject *context, std::function<void(FieldWrite)> done) = 0;
};

} // namespace Quillory

Q_DECLARE_METATYPE(Quillory::FieldWrite)
