#pragma once

#include <QPointer>

class frmMidiPlayer;

// What the program does between creating its QApplication and running the event loop:
// names the application, registers the display font, and shows the player window over
// the FluidSynth device. Shared by main() and the start-up benchmark, so that the
// benchmark times exactly what a launch does.
QPointer<frmMidiPlayer> startPlayer();
