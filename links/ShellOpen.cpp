#include "ShellOpen.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace links {

void DesktopShellOpener::shellExecute(const ShellRequest& request)
{
    // Opening is the one thing the program asks for; other verbs have no meaning
    // for a web address on this desktop.
    if (request.operation.compare(QLatin1String("Open"), Qt::CaseInsensitive) != 0)
        return;

    // xdg-open gets the address as one argument, never through a shell, so no
    // character in it can be read as a command. The parameters are empty for an
    // address and the show command has no counterpart here: the browser decides.
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {request.file}, request.directory))
        return;

    // Without xdg-open, Qt's own route to the default browser.
    QDesktopServices::openUrl(QUrl(request.file));
}

} // namespace links
