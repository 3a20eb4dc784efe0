#pragma once

#include <QPoint>
#include <QString>

// The artwork and fonts shipped with the program, as Qt resource paths.
namespace assets {

inline const QString kBackground = QStringLiteral(":/images/background.jpg"); // 572 x 943
inline const QString kPanel = QStringLiteral(":/images/panel.jpg");           // 640 x 480, Image3
inline const QString kLinkUpper = QStringLiteral(":/images/link-upper.gif");  // 141 x 83, Image2
inline const QString kLinkLower = QStringLiteral(":/images/link-lower.jpg");  // 640 x 480, Image1
inline const QString kIcon = QStringLiteral(":/images/icon.ico");             // 32 x 32, 16 colours
inline const QString kHandCursor = QStringLiteral(":/images/hand.png");       // 32 x 32, 16 colours
inline const QPoint kHandHotSpot{9, 1};                                        // fingertip

// Registers the bundled display face; returns its family name (used for "MIDI SYNTH.").
QString registerBundledFonts();
// The sans face that stands in for "MS Sans Serif" 8.25 pt.
QString uiFontFamily();

} // namespace assets
