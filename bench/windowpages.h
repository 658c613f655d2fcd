#pragma once

#include <QString>

namespace Quillory::Bench {

// A trial item page of about `bytes` bytes (UTF-8) whose whole body is nested `depth` elements deep,
// with the brand question, one answer link to `productUrl` and the answer field.
QString trialPageOfSize(qsizetype bytes, int depth, const QString &productUrl);

// A small product page that answers the brand question.
QString brandProductPage();

} // namespace Quillory::Bench
