#include "autoanswer.h"

#include "answeringpass.h"

namespace Quillory {

AutoAnswer::AutoAnswer(AnsweringPass &pass, int intervalMs, QObject *parent)
    : QObject(parent), m_pass(pass), m_intervalMs(intervalMs)
{}

void AutoAnswer::follow(Qt::CheckState checkBox)
{
    switch (checkBox) {
    case Qt::Unchecked:
        m_timer.setInterval(0);
        m_pass.dropQueued();
        break;
    case Qt::Checked:
        m_timer.setInterval(m_intervalMs);
        break;
    case Qt::PartiallyChecked:
        break;
    }
}

} // namespace Quillory
