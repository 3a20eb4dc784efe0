#pragma once

#include <QLabel>

namespace links {

// A picture stretched to its box that shows the hand cursor and reports clicks.
class PictureLink : public QLabel {
    Q_OBJECT
public:
    explicit PictureLink(QWidget* parent = nullptr);
    void setImage(const QString& resourcePath);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace links
