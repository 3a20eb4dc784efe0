#include "Pictures.h"

#include <QImageReader>

namespace assets {

QImage decodeScaled(const QString& path, QSize size)
{
    QImageReader reader(path);
    // The decoder's own scaling (when it has any) only ever shrinks by powers of two;
    // what is left over is smoothed here, as a stretched picture would be.
    reader.setQuality(100);
    reader.setScaledSize(size);
    QImage image = reader.read();
    if (!image.isNull() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage decodeClipped(const QString& path, const QRect& clip)
{
    QImageReader reader(path);
    const QRect part = clip.intersected(QRect(QPoint(0, 0), reader.size()));
    if (part.isEmpty())
        return {};
    reader.setClipRect(part);
    return reader.read();
}

} // namespace assets
