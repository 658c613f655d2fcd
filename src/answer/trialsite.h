#pragma once

#include <QString>

// The trial site and the markers of its pages. Every URL and marker is a built-in constant.
namespace Quillory::TrialSite {

inline const QString host = QStringLiteral("try.taobao.com");
inline const QString homePage = QStringLiteral("http://try.taobao.com/");
// A page whose URL holds this anywhere, compared exactly, is a trial item page.
inline const QString itemPagePrefix = QStringLiteral("http://try.taobao.com/item.htm");

inline const QString answerLinkText = QStringLiteral("找答案");
inline const QString questionMarker = QStringLiteral("属性描述");
inline const QString attributeStartMarker = QStringLiteral("<EM>");
inline const QString attributeEndMarker = QStringLiteral("</EM>");
inline const QString reportAnswer = QStringLiteral("试用报告");
inline const QString answerFieldName = QStringLiteral("J_AnswerInput");

} // namespace Quillory::TrialSite
