#include "Program.h"
#include "frmMidiPlayer.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    beginLaunch();
    QApplication app(argc, argv);
    QPointer<frmMidiPlayer> window = startPlayer();
    const int status = QApplication::exec();
    delete window.data();   // normally gone already: the window deletes itself on close
    return status;
}
