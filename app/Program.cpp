#include "Program.h"

#include "Assets.h"
#include "SynthDevice.h"
#include "frmMidiPlayer.h"

#include <QApplication>

#include <csignal>

QPointer<frmMidiPlayer> startPlayer()
{
    // A sound output that goes away must be an error the device reports, not a signal
    // that ends the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Mellowdeck"));
    // Lets Wayland desktops match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mellowdeck.Mellowdeck"));
    // The captions' face must be known before the window lays out its labels.
    const QString displayFont = assets::registerBundledFonts();

    QPointer<frmMidiPlayer> window =
        new frmMidiPlayer(std::make_unique<md::SynthDevice>(), displayFont);
    window->show();
    return window;
}
