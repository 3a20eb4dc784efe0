#pragma once

#include "Handlers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <QVariantMap>

namespace mpris {

inline constexpr QLatin1String kObjectPath("/org/mpris/MediaPlayer2");

// org.mpris.MediaPlayer2.Player: the transport. Each call does what a control of the window
// does (Play is a press of Start, Pause the multimedia control's own Pause...), so the
// window's rules hold unchanged and nothing about the piece is kept here. Every property is
// read from the controls when asked; a change is announced once the window's event is over.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    PlayerAdaptor(QObject* object, md::PlayerControls& controls, const QDBusConnection& bus);

public slots:
    void Play() { md::btnStart_Click(c); }
    void Stop() { md::btnStop_Click(c); }
    void Pause() { press(Button::Pause); }
    void PlayPause();
    void Next() { press(Button::Next); }
    void Previous() { press(Button::Prev); }
    void Seek(qlonglong offsetUs);
    void SetPosition(const QDBusObjectPath& track, qlonglong positionUs);
    void OpenUri(const QString& uri, const QDBusMessage& call);

signals:
    void Seeked(qlonglong positionUs);

private:
    using Button = md::MultimediaControl::Button;
    // The control's own buttons: whether one may be pressed, and pressing it (nothing
    // happens while it is disabled).
    bool allows(Button which) const { return c.MMControl1.button(which)->isEnabled(); }
    void press(Button which) { c.MMControl1.button(which)->click(); }

    QString playbackStatus() const;
    QString loopStatus() const { return c.chkLoopSounds.checkState() == Qt::Checked ? "Track" : "None"; }
    void setLoopStatus(const QString& status);
    double one() const { return 1.0; }
    QVariantMap metadata() const;
    qlonglong position() const { return c.MMControl1.position() * 1000; }
    qlonglong length() const { return c.MMControl1.length() * 1000; }
    bool canGoNext() const { return allows(Button::Next); }
    bool canGoPrevious() const { return allows(Button::Prev); }
    bool canPlay() const;
    bool canPause() const { return allows(Button::Pause); }
    bool canSeek() const { return allows(Button::Step); }
    bool canControl() const { return true; }

    QDBusObjectPath trackId() const;
    void seekTo(qlonglong positionUs);
    QVariantMap announced() const;
    void announce();

    md::PlayerControls& c;
    QDBusConnection m_bus;
    QVariantMap m_announced;   // what the bus was last told
    QTimer m_announce;
};

} // namespace mpris
