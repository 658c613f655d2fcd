#pragma once

#include <QLoggingCategory>
#include <QString>

#include <array>

// How long each phase of a pass took: written at debug level to "quillory.pass.trace" (off unless
// QT_LOGGING_RULES turns it on) and read by the benchmark. Nothing else in the program looks at it.
Q_DECLARE_LOGGING_CATEGORY(lcPassTrace)

namespace Quillory {

// The points a pass passes, in order. A pass that ends early reaches only the first few.
enum class PassPhase
{
    Started,
    PageRead,     // the page's answer to the read was at hand as document text
    QuestionCut,  // the question attribute was cut
    ProductPage,  // the product page was at hand (kept, or downloaded)
    LookedUp,     // the value was looked up in it
    FieldWritten, // the page reported the answer field written
};

class PassTrace final
{
public:
    void mark(PassPhase phase);
    // When `phase` was reached (timemark.h), 0 when it was not.
    qint64 at(PassPhase phase) const { return m_at[std::size_t(phase)]; }
    // Milliseconds from one phase to another; 0 when either was not reached.
    double msBetween(PassPhase from, PassPhase to) const;

    // How long the download that the pass itself waited for took, in ms (0: none, a kept or early copy).
    qint64 downloadMs = 0;

    // One line: each phase's milliseconds since the one before.
    QString describe() const;

private:
    std::array<qint64, 6> m_at{};
};

} // namespace Quillory
