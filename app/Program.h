#pragma once

#include <QPointer>

class frmMidiPlayer;

// The program's start-up, shared by main() and the start-up benchmark so that the
// benchmark times exactly what a launch does.

// First thing in main(), before the QApplication: starts reading the system's font
// configuration on a thread of its own, while the application connects to the display.
void beginLaunch();

// Between creating the QApplication and running the event loop: names the application,
// registers the display font, and shows the player window over the FluidSynth device.
QPointer<frmMidiPlayer> startPlayer();
