#pragma once

#include <QLabel>

// The file name box: its text is the whole line it was given (what a screen reader reads
// and a test compares), drawn elided in the middle when it is wider than the box, so that
// both the start of the path and the file name stay in sight.
class FileNameBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The text as drawn: the whole text, or its elided copy.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
};
