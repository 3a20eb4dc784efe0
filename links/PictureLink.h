#pragma once

#include <QLabel>

namespace links {

// A picture stretched to its box that shows the hand cursor and reports clicks. It is a
// link for the keyboard and for screen readers too: Tab reaches it, Space or Enter opens
// it, and it is announced by its accessible name with an action that opens it.
class PictureLink : public QLabel {
    Q_OBJECT
public:
    explicit PictureLink(QWidget* parent = nullptr);
    // The cursor shown while the pointer is over the picture: assets::kHandCursor, decoded
    // (with the window's other pictures) by whoever builds the link.
    void setHand(const QImage& hand);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace links
