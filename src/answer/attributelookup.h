#pragma once

#include <QString>

#include <stop_token>

namespace Quillory {

class PageDownloader;

namespace LookupText {
inline const QString tableMiss = QStringLiteral("未找到答案，淘宝太会藏了！！");
inline const QString noTable = QStringLiteral("未找到答案,不被淘宝藏到哪里去了！！");
} // namespace LookupText

// Where a lookup's answer came from.
enum class AnswerSource
{
    List,          // the value after the name in the attribute list
    ListNameOnly,  // the name is in the list, but no "</li>" follows: the answer is the name itself
    Table,         // the value after the name in the packaging-and-parameters table
    TableNameOnly, // the name is in the table, but no "</td>" follows: the answer is the name itself
    TableMiss,     // not in the list, and the table lacks it: the table-miss text
    NoTable,       // not in the list, and the page has no table: the no-table text
};

// How a product page's text is written, which decides how the lookup reads it. The rules of the lookup
// (which region, which occurrence of the name, where a value begins and ends, the table only when the
// list lacks the name, the two not-found texts) are the same for both; only what a character is and how
// a cut value becomes the answer differ.
enum class PageForm
{
    // The page as its server sent it, decoded: every unit is a character, and the value is decoded by
    // zhuanzi (its character references, a leading "&nbsp;").
    Served,
    // The page as the browser shows it, written by the hidden page (scripts/renderedpage.js): each element
    // as <name attribute="value" ...> and its content, then </name> (a void element has none); nothing but
    // elements and texts; nothing of a script, style, template or noscript element; an open shadow tree's
    // content in its host's place, a slot's assigned nodes in the slot's. Every name, value and text is
    // written with "&", "<", ">" and U+00A0 as "&amp;", "&lt;", "&gt;" and "&nbsp;", as the document text
    // writes a page's text, so that an attribute cut from a question matches the page's text as it stands,
    // while "<" only ever begins the markup and "&" only ever begins one of those four references.
    // A reference is one character: a name counts only where it begins and ends between characters, and
    // the characters skipped after it skip whole references. The answer is the text that the page shows
    // within the cut value (references undone, nothing of the markup), less one leading U+00A0: the
    // separator that the served form writes as the "&nbsp;" its decoder drops.
    Rendered,
};

// Finds the value a product page gives for the attribute named in `chazhaosx`: first in the attribute
// list, and only when the name is not there at all in the packaging-and-parameters table. On return
// `chazhaosx` holds the decoded answer, which is also the result: the value, the name itself when its
// value could not be cut, or one of the two not-found texts. Never fails. `source`, when given, tells
// which of these it is.
QString lookUpAttribute(const QString &pageText, QString &chazhaosx, AnswerSource *source = nullptr,
                        PageForm form = PageForm::Served);

// Whether the lookup on `pageText` gives a not-found text for lack of what it reads: the page has neither
// an attribute list nor a packaging-and-parameters table, or, with `attribute` given, that name is in
// neither. Such a page may be one that its scripts build in the browser.
bool lacksTheAttribute(const QString &pageText, const QString &attribute = {},
                       PageForm form = PageForm::Served);

// Downloads the product page at `chazhaowz` through `Inet1` and looks the attribute up in it. A failed
// download is an empty page. Blocks until the download has ended: call it off the user-interface thread.
QString chasuxing(const PageDownloader &Inet1, const QString &chazhaowz, QString &chazhaosx,
                  std::stop_token stop = {});

} // namespace Quillory
