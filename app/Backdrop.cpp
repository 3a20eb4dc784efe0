#include "Backdrop.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// The client area as a screen reader sees it: a panel whose children are the announced ones.
class BackdropAccessible : public QAccessibleWidget {
public:
    explicit BackdropAccessible(Backdrop* backdrop) : QAccessibleWidget(backdrop) {}

    int childCount() const override { return children().size(); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> kids = children();
        return index >= 0 && index < kids.size() ? QAccessible::queryAccessibleInterface(kids[index]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? children().indexOf(child->object()) : -1;
    }

private:
    QList<QWidget*> children() const { return static_cast<Backdrop*>(widget())->announcedChildren(); }
};

QAccessibleInterface* backdropAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(Backdrop::staticMetaObject.className()))
        return new BackdropAccessible(static_cast<Backdrop*>(object));
    return nullptr;
}

} // namespace

Backdrop::Backdrop(QWidget* parent) : QWidget(parent)
{
    static const bool registered = (QAccessible::installFactory(backdropAccessible), true);
    Q_UNUSED(registered);
}

void Backdrop::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    update();
}

QList<QWidget*> Backdrop::announcedChildren() const
{
    QList<QWidget*> kids;
    for (QObject* o : children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !w->isWindow() && !m_unannounced.contains(w))
            kids.append(w);
    }
    return kids;
}

void Backdrop::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
}
