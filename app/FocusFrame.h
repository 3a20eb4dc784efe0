#pragma once

#include <QObject>

class QWidget;

// Draws the classic dotted focus rectangle on a control while it has the keyboard focus,
// once the keyboard has moved the focus in the window (Tab, the arrows): every other pixel
// inverted, three pixels in from the edges of the part the window shows, so it can be seen
// on grey buttons, the black strip and the pictures alike. Nothing is drawn otherwise: to
// the mouse the window looks as it always did.
class FocusFrame : public QObject {
public:
    explicit FocusFrame(QObject* parent) : QObject(parent) {}
    // Shows the rectangle on `control` while it has the focus.
    void watch(QWidget* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
