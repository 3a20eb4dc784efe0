#include "FileNameBox.h"

#include <QPainter>
#include <QStyle>

QRect FileNameBox::textRect() const
{
    // QLabel's own rule: the margin all round, and for a framed label without an explicit
    // indent, half an 'x' on the side the text is aligned to.
    QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int indent = this->indent();
    if (indent < 0 && frameWidth() > 0)
        indent = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (indent > 0)
        r.setLeft(r.left() + indent);
    return r;
}

QString FileNameBox::shownText() const
{
    const int room = textRect().width();
    return room > 0 ? fontMetrics().elidedText(text(), Qt::ElideMiddle, room) : text();
}

void FileNameBox::paintEvent(QPaintEvent* event)
{
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    // Drawn as QLabel draws a line of plain text, with the shortened copy in its place.
    QPainter p(this);
    drawFrame(&p);
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextForceLeftToRight;
    style()->drawItemText(&p, textRect(), flags, palette(), isEnabled(), shown, foregroundRole());
}
