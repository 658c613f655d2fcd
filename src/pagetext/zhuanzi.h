#pragma once

#include <QString>

namespace Quillory {

// Decodes an attribute value cut from a product page's raw source: five-digit decimal character
// references ("&#20013;") become characters, a leading "&nbsp;" is dropped. A text without "&#" and
// "&nbsp;" comes back unchanged. Never fails.
QString zhuanzi(const QString &shuxingchuan);

} // namespace Quillory
