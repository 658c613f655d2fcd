#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

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

// A read of the markup that the page keeps for the window: the document it was made in, and which of
// that document's reads it was.
struct KeptRead
{
    QString documentToken;
    quint64 generation = 0;
};

struct PageReadRequest
{
    std::optional<ElementPart> part; // no part: the elements are not read
    ElementScope scope = ElementScope::AllElements;
    bool withLinks = false;
    // The page may answer "kept" instead of reading the markup again, when this is the read it keeps
    // and nothing that could change the question's cut has changed in the document since.
    std::optional<KeptRead> kept;
    // Without a part: the snapshot says whether the engine's markup of the root holds this text.
    QString requiredText;
};

// How the page wrote the markup between the element names (documenttext.h).
enum class MarkupRoute
{
    Scan,   // the engine's own markup, tagNames put where matching it against the elements found the names
    Walk,   // the page script's own serializer, checked against the engine's
    Pieces, // every piece but the names serialized by the engine itself
};

// The document's markup as read: the root element's inner markup with every element name as tagName
// gives it, and, when asked for or when needed, where each element's part lies.
struct DocumentMarkup
{
    QString rootMarkup;
    // For each element in document order, root first: [begin, end) of its part in `rootMarkup`, or,
    // for an element the root's markup does not hold (inside a void element, say), an index into
    // `hiddenParts` as {-1 - index, 0}. Empty: no element's part lies outside the root's, and only the
    // root's part was asked for.
    QList<std::pair<qint32, qint32>> ranges;
    QList<QString> hiddenParts;
    MarkupRoute route = MarkupRoute::Walk;
    bool checked = false;   // the markup with the engine's names equalled the engine's own
    quint64 generation = 0; // which read of the document this was, for keeping it
};

// The page's answer to a read without a part: how things stand with the read it keeps.
struct PageProbe
{
    std::optional<bool> holdsRequiredText; // asked for with a required text
    // The generation of the read the page keeps (0: none), and how long the document has gone without a
    // change that would drop a kept read.
    quint64 keptGeneration = 0;
    qint64 quietMs = 0;
};

// Each element's inner text as read (an empty optional: that element's part could not be read).
struct ElementTexts
{
    QList<std::optional<QString>> parts;
};

// The page still keeps the read the request named: no markup was read, the cut made from it holds.
struct ReadStillKept
{
};

// What one read of the shown document returned.
struct PageSnapshot
{
    // What the page answered besides the common fields: nothing when there was no document (or no
    // answer), else exactly one of the alternatives a read can give.
    using Reply = std::variant<std::monostate, PageProbe, ElementTexts, DocumentMarkup, ReadStillKept>;

    // The page never answered the read: it was stopped (its own scripts held it, a loop that never
    // yields, say) or the pane left it first. Nothing was read.
    bool notResponding = false;
    bool hasDocument = false;
    ElementScope scope = ElementScope::AllElements;
    Reply reply;
    std::optional<QList<PageLink>> links; // empty optional: the link list could not be read
    QString documentToken;                // names the document that was read, for writing back to it
    // How long the read took in the page: reads ahead of the key are paced by it.
    qint64 readCostMs = 0;

    const PageProbe *probe() const { return std::get_if<PageProbe>(&reply); }
    const ElementTexts *texts() const { return std::get_if<ElementTexts>(&reply); }
    const DocumentMarkup *markup() const { return std::get_if<DocumentMarkup>(&reply); }
    bool kept() const { return std::holds_alternative<ReadStillKept>(reply); }
};

// What the window tells the page about a read it has cut the question from: the [begin, end) stretches
// of the root's markup that decided the cut, and the characters its markers are made of. The page keeps
// the read while no change of the document can touch those stretches or put in those characters.
struct ReadToKeep
{
    KeptRead read;
    QList<std::pair<qsizetype, qsizetype>> decidingStretches;
    QString markerCharacters;
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
    // Asks the page to keep a read (see ReadToKeep); `done` gets whether it does.
    virtual void keepRead(const ReadToKeep &keep, QObject *context, std::function<void(bool)> done) = 0;
};

} // namespace Quillory

Q_DECLARE_METATYPE(Quillory::FieldWrite)
