#include "Assets.h"
#include "SynthDevice.h"
#include "frmMidiPlayer.h"

#include <QApplication>
#include <QPointer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mellowdeck"));
    // The captions' face must be known before the window lays out its labels.
    const QString displayFont = assets::registerBundledFonts();

    QPointer<frmMidiPlayer> window =
        new frmMidiPlayer(std::make_unique<md::SynthDevice>(), displayFont);
    window->show();
    const int status = QApplication::exec();
    delete window.data();   // normally gone already: the window deletes itself on close
    return status;
}
