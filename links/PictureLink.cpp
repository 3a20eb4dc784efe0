#include "PictureLink.h"

#include "Assets.h"

#include <QAccessibleWidget>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

namespace links {

namespace {

// What a screen reader is told of a picture link: a link, named by the widget's accessible
// name, that the press action opens as a click does.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(PictureLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name == pressAction())
            emit static_cast<PictureLink*>(widget())->clicked();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* linkAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(PictureLink::staticMetaObject.className()))
        return new LinkAccessible(static_cast<PictureLink*>(object));
    return nullptr;
}

} // namespace

PictureLink::PictureLink(QWidget* parent) : QLabel(parent)
{
    static const bool registered = (QAccessible::installFactory(linkAccessible), true);
    Q_UNUSED(registered);
    // The artwork is drawn to fill the box it is placed in, whatever its own size.
    setScaledContents(true);
    // Tab reaches it; a click leaves the keyboard where it was, as before.
    setFocusPolicy(Qt::TabFocus);
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

void PictureLink::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && !event->isAutoRepeat()) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

} // namespace links
