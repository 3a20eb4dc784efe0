#include "PictureLink.h"

#include "Assets.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPixmap>

namespace links {

PictureLink::PictureLink(QWidget* parent) : QLabel(parent)
{
    // The artwork is drawn to fill the box it is placed in, whatever its own size.
    setScaledContents(true);
}

void PictureLink::setHand(const QImage& hand)
{
    // A widget cursor applies only while the pointer is over this widget, so the
    // hand shows over the pictures and nowhere else in the window.
    setCursor(QCursor(QPixmap::fromImage(hand), assets::kHandHotSpot.x(),
                      assets::kHandHotSpot.y()));
}

void PictureLink::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a left press and release on the picture: the widget keeps the
    // mouse after the press, so a release dragged off the picture arrives here too
    // and is not a click.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

} // namespace links
