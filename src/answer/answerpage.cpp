#include "answerpage.h"

#include "passrules.h"

namespace Quillory {

void showAnswerPage(BrowserPane &pane, QObject *context, std::function<void(const QString &)> open)
{
    if (!isTrialItemPage(pane.currentUrl()))
        return;
    PageReadRequest request;
    request.withLinks = true; // the links alone; no element is read
    pane.readPage(request, context,
                  [open = std::move(open)](const PageSnapshot &page) { open(answerPageLink(page.links)); });
}

} // namespace Quillory
