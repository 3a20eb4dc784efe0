#include "Links.h"

#include <QCoreApplication>

namespace links {

// The synthesizer that makes every note the player sounds.
const QString kFirstAddress = QStringLiteral("https://www.fluidsynth.org/");
// General MIDI, the standard instrument map the player's files and SoundFont follow.
const QString kSecondAddress = QStringLiteral("https://en.wikipedia.org/wiki/General_MIDI");
const QString kFirstName = QStringLiteral("FluidSynth home page, www.fluidsynth.org");
const QString kSecondName = QStringLiteral("General MIDI on Wikipedia, en.wikipedia.org");

namespace {

ShellRequest openRequest(QWidget* window, const QString& address)
{
    ShellRequest request;
    request.window = window;
    request.operation = QStringLiteral("Open");
    request.file = address;
    request.parameters = QString();
    request.directory = QCoreApplication::applicationDirPath();
    request.showCommand = 1;   // show normally
    return request;
}

} // namespace

void Image1_Click(QWidget* window, ShellOpener& shell)
{
    shell.shellExecute(openRequest(window, kFirstAddress));
}

void Image2_Click(QWidget* window, ShellOpener& shell)
{
    shell.shellExecute(openRequest(window, kSecondAddress));
}

} // namespace links
