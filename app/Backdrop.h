#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

// The client area: the background picture at its natural size from the top-left corner,
// cut off at the edges. It holds every control, and tells screen readers of all of them
// but those that only repeat another one's text for the look.
class Backdrop : public QWidget {
    Q_OBJECT
public:
    explicit Backdrop(QWidget* parent = nullptr);
    void setPicture(const QPixmap& picture);

    // Leaves `child` out of what screen readers are told; it is still drawn.
    void hideFromScreenReaders(QWidget* child) { m_unannounced.append(child); }
    // The children a screen reader is told of, back to front.
    QList<QWidget*> announcedChildren() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QList<QPointer<QWidget>> m_unannounced;
};
