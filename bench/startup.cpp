// mellowdeck-bench-startup [--open FILE]
//
// Launches the player exactly as the program does and ends the process as soon as the
// window has been painted, printing the window's size ("WxH") so the reference window
// can match it. With --open, it then opens FILE through the multimedia control as
// File > Open does, and ends when the device is ready to sound (exit 1 if it refused).
// The process ends with _Exit: the time measured is the launch, not the teardown.

#include "FirstPaint.h"
#include "MultimediaControl.h"
#include "Program.h"
#include "frmMidiPlayer.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    const char* open = nullptr;
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0)
        open = argv[2];
    else if (argc != 1) {
        std::fprintf(stderr, "usage: mellowdeck-bench-startup [--open FILE]\n");
        return 64;
    }
    beginLaunch();
    QApplication app(argc, argv);
    QPointer<frmMidiPlayer> window;
    FirstPaint painted([&] {
        std::printf("%dx%d\n", window->width(), window->height());
        if (open) {
            auto* control = window->findChild<md::MultimediaControl*>(QStringLiteral("MMControl1"));
            control->setWait(true);
            control->setFileName(QString::fromLocal8Bit(open));
            control->setDeviceType(QStringLiteral("Sequencer"));
            control->setCommand(QStringLiteral("Open"));
            if (control->error() != md::MultimediaControl::NoError) {
                std::fprintf(stderr, "open: %s\n", qPrintable(control->errorMessage()));
                std::fflush(stdout);
                std::_Exit(1);
            }
        }
        std::fflush(stdout);
        std::_Exit(0);
    });
    window = startPlayer();
    return QApplication::exec();
}
