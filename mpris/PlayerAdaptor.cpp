#include "PlayerAdaptor.h"

#include <QFileInfo>
#include <QMetaProperty>
#include <QUrl>

#include <algorithm>

namespace mpris {

PlayerAdaptor::PlayerAdaptor(QObject* object, md::PlayerControls& controls, const QDBusConnection& bus)
    : QDBusAbstractAdaptor(object), c(controls), m_bus(bus), m_announced(announced())
{
    // One window event may change several things (File > Open closes, then opens): they
    // are announced together when it is over.
    m_announce.setSingleShot(true);
    m_announce.setInterval(0);
    connect(&m_announce, &QTimer::timeout, this, &PlayerAdaptor::announce);
    const auto later = [this] { m_announce.start(); };
    connect(&c.MMControl1, &md::MultimediaControl::ModeChange, this, later);
    connect(&c.chkLoopSounds, &QCheckBox::stateChanged, this, later);
}

void PlayerAdaptor::PlayPause()
{
    if (c.MMControl1.heardMode() == static_cast<int>(md::Mode::Playing))
        Pause();
    else
        Play();
}

void PlayerAdaptor::Seek(qlonglong offsetUs)
{
    // Past either end means that end; the control's own Next goes to the end the same way.
    const qlonglong now = position();
    seekTo(now + std::max(-now, std::min(offsetUs, length() - now)));
}

void PlayerAdaptor::SetPosition(const QDBusObjectPath& track, qlonglong positionUs)
{
    // A position meant for another piece, or off this one, is ignored.
    if (track == trackId() && positionUs >= 0 && positionUs <= length())
        seekTo(positionUs);
}

void PlayerAdaptor::seekTo(qlonglong positionUs)
{
    // As the control's Back and Step: the device moves there and is stopped.
    if (!canSeek())
        return;
    c.MMControl1.setTo(positionUs / 1000);
    c.MMControl1.setCommand(QStringLiteral("Seek"));
    emit Seeked(position());
}

void PlayerAdaptor::OpenUri(const QString&, const QDBusMessage& call)
{
    call.setDelayedReply(true);
    m_bus.send(call.createErrorReply(QDBusError::NotSupported,
                                     QStringLiteral("Mellowdeck opens pieces only through File > Open")));
}

QString PlayerAdaptor::playbackStatus() const
{
    // What is heard: a piece plays on until its end is heard.
    switch (static_cast<md::Mode>(c.MMControl1.heardMode())) {
    case md::Mode::Playing: return QStringLiteral("Playing");
    case md::Mode::Paused: return QStringLiteral("Paused");
    default: return QStringLiteral("Stopped");
    }
}

void PlayerAdaptor::setLoopStatus(const QString& status)
{
    // A click on the box, when it is not already as asked; a playlist of one piece is that
    // piece. Other words are ignored.
    const bool loop = status == QLatin1String("Track") || status == QLatin1String("Playlist");
    if ((loop || status == QLatin1String("None")) && loop != (c.chkLoopSounds.checkState() == Qt::Checked))
        c.chkLoopSounds.click();
}

QVariantMap PlayerAdaptor::metadata() const
{
    if (c.MMControl1.mode() == static_cast<int>(md::Mode::NotOpen))
        return {};
    const QFileInfo file(c.MMControl1.fileName());
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId())},
            {QStringLiteral("mpris:length"), length()},
            {QStringLiteral("xesam:title"), file.fileName()},
            {QStringLiteral("xesam:url"), QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded())}};
}

QDBusObjectPath PlayerAdaptor::trackId() const
{
    return QDBusObjectPath(QStringLiteral("/io/github/mellowdeck/Mellowdeck/piece_%1")
                               .arg(qHash(c.MMControl1.fileName(), 0), 0, 16));
}

bool PlayerAdaptor::canPlay() const
{
    // Start is enabled from the first Open on, but only a piece that opened plays.
    return c.MMControl1.mode() != static_cast<int>(md::Mode::NotOpen);
}

QVariantMap PlayerAdaptor::announced() const
{
    // Every property but the position, which clients work out from the time that passes.
    // Those that never change are never announced.
    QVariantMap all;
    const QMetaObject* meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (qstrcmp(property.name(), "Position") != 0)
            all.insert(QLatin1String(property.name()), property.read(this));
    }
    return all;
}

void PlayerAdaptor::announce()
{
    const QVariantMap now = announced();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    m_bus.send(signal);
}

} // namespace mpris
