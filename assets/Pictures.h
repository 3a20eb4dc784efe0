#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

namespace assets {

// Decoding the artwork whole is the larger part of building the window. These decode only
// what is shown; both are safe to call from any thread, and give a null image when the
// picture cannot be read.

// The whole picture scaled to `size` (smoothly). A JPEG decoder produces a half, quarter
// or eighth of the picture directly, so a large JPEG shown small costs a fraction of it.
QImage decodeScaled(const QString& path, QSize size);

// The part `clip` of the picture at its natural size; a JPEG stops decoding below it.
QImage decodeClipped(const QString& path, const QRect& clip);

} // namespace assets
