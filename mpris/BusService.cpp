#include "BusService.h"

#include "PlayerAdaptor.h"
#include "RootAdaptor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QWidget>

namespace mpris {

bool offer(md::PlayerControls& controls, QWidget& window, QAction& exit)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // One object carries both interfaces; the bus forgets it when it is destroyed.
    auto* player = new QObject(&window);
    new RootAdaptor(player, window, exit);
    new PlayerAdaptor(player, controls, bus);
    if (!bus.registerObject(kObjectPath, player)) {
        delete player;
        return false;
    }
    // A second Mellowdeck takes a name of its own beside the first one's, as MPRIS asks.
    QString name = QStringLiteral("org.mpris.MediaPlayer2.mellowdeck");
    if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            delete player;
            return false;
        }
    }
    QObject::connect(player, &QObject::destroyed, [bus, name]() mutable { bus.unregisterService(name); });
    return true;
}

} // namespace mpris
