#pragma once

#include <QPoint>
#include <QString>

// The artwork and fonts shipped with the program, as Qt resource paths.
// assets/README.md tells how each one was made and under which licence.
namespace assets {

inline const QString kBackground = QStringLiteral(":/images/background.jpg"); // 572 x 943
inline const QString kPanel = QStringLiteral(":/images/panel.jpg");           // 640 x 480, Image3
inline const QString kLinkUpper = QStringLiteral(":/images/link-upper.gif");  // 141 x 83, Image2
inline const QString kLinkLower = QStringLiteral(":/images/link-lower.jpg");  // 640 x 480, Image1
inline const QString kIcon = QStringLiteral(":/images/icon.ico");             // 32 x 32, 16 colours
inline const QString kHandCursor = QStringLiteral(":/images/hand.png");       // 32 x 32, 16 colours
inline const QPoint kHandHotSpot{9, 1};                                        // fingertip

// Bundled fonts: Play Bold (display face, SIL OFL 1.1) and Liberation Sans
// Narrow (UI face, GPL-2 with the font exception).
inline const QString kDisplayFontFile = QStringLiteral(":/fonts/Play-Bold.ttf");
inline const QString kUiFontFile = QStringLiteral(":/fonts/LiberationSansNarrow-Regular.ttf");
inline const QString kUiBoldFontFile = QStringLiteral(":/fonts/LiberationSansNarrow-Bold.ttf");

// Registers the bundled fonts with QFontDatabase (once; later calls return the
// same answer). Needs a QGuiApplication. Returns the display face's family name
// (used for "MIDI SYNTH."), or the system's general font family if the bundled
// face could not be loaded.
QString registerBundledFonts();
// The sans face that stands in for "MS Sans Serif" 8.25 pt: the bundled
// Liberation Sans Narrow, or the system's general font family if it could not
// be loaded. Registers the bundled fonts first if that has not happened yet.
QString uiFontFamily();

namespace detail {
// Links the compiled-in resources into every program that includes this header,
// so the paths above load even when the library is linked statically.
int initResources();
inline const int kResourcesReady = initResources();
} // namespace detail

} // namespace assets
