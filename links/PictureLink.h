#pragma once

#include <QLabel>

namespace links {

// A picture stretched to its box that shows the hand cursor and reports clicks.
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
};

} // namespace links
