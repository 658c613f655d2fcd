#pragma once

#include <QString>

namespace Quillory::Bench {

enum class Liveness
{
    Static,
    Live, // a countdown rewrites a text node every 100 ms, a banner changes its class every 3 s
};

// A trial item page of about `bytes` bytes (UTF-8) whose whole body is nested `depth` elements deep,
// with the brand question, one answer link to `productUrl` and the answer field; a live one ticks as
// real trial pages do, above the question.
QString trialPageOfSize(qsizetype bytes, int depth, const QString &productUrl,
                        Liveness liveness = Liveness::Static);

// A small product page that answers the brand question.
QString brandProductPage();

} // namespace Quillory::Bench
