#include "FocusFrame.h"

#include <QCheckBox>
#include <QEvent>
#include <QPainter>
#include <QWidget>

void FocusFrame::watch(QWidget* control)
{
    control->installEventFilter(this);
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event)
{
    auto* w = static_cast<QWidget*>(watched);
    // As the desktop does: no focus cue until the keyboard has moved the focus in the window.
    if (event->type() != QEvent::Paint || !w->hasFocus() || !w->window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return false;
    // The control paints itself first; the rectangle goes over it.
    watched->event(event);
    QRect r = w->rect();
    if (qobject_cast<QCheckBox*>(w))   // around the box and its text, not the whole strip
        r.setWidth(w->sizeHint().width() + 6);
    if (w->parentWidget())
        r &= w->parentWidget()->rect().translated(-w->pos());
    r.adjust(3, 3, -4, -4);
    QPainter p(w);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QBrush dots(Qt::white, Qt::Dense4Pattern);
    p.fillRect(r.left(), r.top(), r.width(), 1, dots);
    p.fillRect(r.left(), r.bottom(), r.width(), 1, dots);
    p.fillRect(r.left(), r.top() + 1, 1, r.height() - 2, dots);
    p.fillRect(r.right(), r.top() + 1, 1, r.height() - 2, dots);
    return true;
}
