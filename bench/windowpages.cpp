#include "windowpages.h"

using namespace Qt::StringLiterals;

namespace Quillory::Bench {

QString trialPageOfSize(qsizetype bytes, int depth, const QString &productUrl, Liveness liveness)
{
    const QString paragraph = u"<p>试用中心的商品描述与评价，<b>和问题</b>无关的文字 0123456789。</p>\n"_s;
    const QString question =
        u"<div class=\"question\">属性描述：请问该商品的<em>品牌</em>是什么？<a href=\""_s + productUrl +
        u"\">找答案</a><input name=\"J_AnswerInput\"></div>"_s;
    QString filler;
    const qsizetype paragraphBytes = paragraph.toUtf8().size();
    for (qsizetype size = 0; size < bytes; size += paragraphBytes)
        filler += paragraph;
    // The page notes when its answer field hears of the answer, as a page's own script would.
    const QString listener =
        u"<script>document.addEventListener('input', (e) => { if (e.target.name === "
        u"'J_AnswerInput') window.answeredAt = performance.timeOrigin + performance.now(); "
        u"}, true);</script>"_s;
    const QString ticking =
        liveness == Liveness::Static
            ? QString()
            : u"<p id=\"banner\" class=\"banner\">新品上架</p><b id=\"countdown\">36000</b><script>(() => {"
              u"const countdown = document.getElementById('countdown').firstChild; let left = 36000;"
              u"setInterval(() => { countdown.data = String(--left); }, 100);"
              u"const banner = document.getElementById('banner'); let on = false;"
              u"setInterval(() => { on = !on; banner.className = on ? 'banner on' : 'banner'; }, 3000);"
              u"})();</script>"_s;
    return u"<!DOCTYPE html><html><head><meta charset=\"utf-8\">"_s + listener + u"</head><body>"_s +
           ticking + QString(u"<div>"_s).repeated(depth) + filler + question +
           QString(u"</div>"_s).repeated(depth) + u"</body></html>"_s;
}

QString brandProductPage()
{
    return u"<html><body><ul class=\"attributes-list\"><li title=\"y\">品牌:&nbsp;&#38271;&#26149;</li></ul>"
           u"描述加载中</body></html>"_s;
}

} // namespace Quillory::Bench
