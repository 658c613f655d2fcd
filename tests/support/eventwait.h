#pragma once

// How long a test waits at most for an event that it expects: a page load, a signal, a request the
// server receives, a page's answer. A wait returns as soon as the event comes; this ceiling is only
// there so that a fault ends the test with a message instead of hanging it, so it is far above what any
// machine needs, however busy (and well under the test runner's time-out for a whole test program).
// No test decides anything by this ceiling running out.
namespace Quillory::Testing {

inline constexpr int eventCeilingMs = 120000;

} // namespace Quillory::Testing
