// The media controls (MPRIS) on a private session bus: a connection of the test's own calls
// the real window over a recording fake device, as the desktop's panel or playerctl would.

#include "Assets.h"
#include "CommonDialog.h"
#include "FakeDevice.h"
#include "MultimediaControl.h"
#include "frmMidiPlayer.h"

#include <QAction>
#include <QCheckBox>
#include <QTest>
#include <QtDBus>

const QString kPath = "/org/mpris/MediaPlayer2", kPlayer = "org.mpris.MediaPlayer2.Player",
              kProperties = "org.freedesktop.DBus.Properties";

class tst_Mpris : public QObject {
    Q_OBJECT

public:
    tst_Mpris()
    {
        client.connect({}, kPath, kProperties, "PropertiesChanged", this, SLOT(changed(QString,QVariantMap,QStringList)));
    }

public slots:
    void changed(const QString&, const QVariantMap& properties, const QStringList&) { announced.insert(properties); }

private slots:
    void init()
    {
        auto device = std::make_unique<FakeDevice>();
        fake = device.get();
        window = new frmMidiPlayer(std::move(device), assets::registerBundledFonts());
        window->offerMediaControls();
    }
    void cleanup()
    {
        delete window.data();
        announced.clear();
        QCOMPARE(std::exchange(unanswered, {}), QStringList());   // each call answered, no error
    }

    // Play arming the poll with nothing open, or sounding at once instead of through Start's
    // poll; CanPlay, or PlaybackStatus, not following the window or not announced; PlayPause
    // not pausing (also a piece rendered to its end but still heard); Stop not disarming or not
    // rewinding; Quit not being File > Exit.
    void transportRunsTheWindowsHandlers()
    {
        auto* mm = window->findChild<md::MultimediaControl*>("MMControl1");
        call("Play");
        QCOMPARE(mm->updateInterval(), 0);
        open("/music/a.mid");
        QTRY_COMPARE(announced.value("CanPlay"), QVariant(true));
        call("Play");
        QCOMPARE(mm->updateInterval(), 55);
        QCOMPARE(*fake->log, FakeDevice::Log{"open /music/a.mid"});
        emit mm->StatusUpdate();
        QTRY_COMPARE(announced.value("PlaybackStatus"), QVariant("Playing"));
        fake->currentMode = md::Mode::Stopped;   // the end is rendered, not yet heard
        fake->heard = md::Mode::Playing;
        call("PlayPause");
        QTRY_COMPARE(announced.value("PlaybackStatus"), QVariant("Paused"));
        call("Stop");
        QCOMPARE(*fake->log, (FakeDevice::Log{"open /music/a.mid", "prev", "play", "pause", "stop", "prev"}));
        QCOMPARE(mm->updateInterval(), 0);
        QTRY_COMPARE(announced.value("PlaybackStatus"), QVariant("Stopped"));
        call("Quit", {}, "org.mpris.MediaPlayer2");
        QTRY_VERIFY(window.isNull());
    }

    // Setting LoopStatus not clicking the box, "Playlist" not looping, the box not announced.
    void loopStatusClicksTheBox()
    {
        auto* box = window->findChild<QCheckBox*>("chkLoopSounds");
        for (auto [status, checked] : {std::pair{"Track", true}, {"None", false}, {"Playlist", true}}) {
            call("Set", {kPlayer, "LoopStatus", QVariant::fromValue(QDBusVariant(status))}, kProperties);
            QCOMPARE(box->isChecked(), checked);
            QTRY_COMPARE(announced.value("LoopStatus"), QVariant(checked ? "Track" : "None"));
        }
    }

    // Metadata mistyped (a track id that is no object path, a length not in microseconds, an
    // unencoded URL), kept after a failed open, or not announced; Seek and SetPosition not in
    // microseconds, not kept to the piece, or obeying a position meant for another piece.
    void metadataAndSeekFollowThePiece()
    {
        fake->length = 4321;
        open("/music/first piece.mid");
        QTRY_VERIFY(announced.contains("Metadata"));
        const auto m = qdbus_cast<QVariantMap>(announced.value("Metadata"));
        QCOMPARE(m.value("xesam:title"), QVariant("first piece.mid"));
        QCOMPARE(m.value("xesam:url"), QVariant("file:///music/first%20piece.mid"));
        QCOMPARE(m.value("mpris:length"), QVariant(4321000LL));
        QCOMPARE(m.value("mpris:trackid").metaType(), QMetaType::fromType<QDBusObjectPath>());
        fake->position = 2000;
        call("Seek", {1500000LL});
        call("Seek", {-99000000LL});
        call("SetPosition", {m.value("mpris:trackid"), 3000000LL});
        call("SetPosition", {QVariant::fromValue(QDBusObjectPath("/other")), 1000000LL});
        QCOMPARE(*fake->log, (FakeDevice::Log{"open /music/first piece.mid", "seek 3500", "seek 0", "seek 3000"}));
        fake->failing = {"open"};
        open("/music/broken.mid");
        QTRY_COMPARE(qdbus_cast<QVariantMap>(announced.value("Metadata")), QVariantMap());
    }

private:
    void call(const QString& method, const QVariantList& args = {}, const QString& interface = kPlayer)
    {
        auto message = QDBusMessage::createMethodCall("org.mpris.MediaPlayer2.mellowdeck", kPath, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = client.asyncCall(message);
        // The window answers on this thread: its events must flow meanwhile.
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }) || pending.isError())
            unanswered << method;
    }
    // File > Open, choosing `path`.
    void open(const QString& path)
    {
        window->findChild<md::CommonDialog*>("CMDialog1")->setChooser([path](QFileDialog&) { return std::optional(path); });
        window->findChild<QAction*>("mnuFileOpen")->trigger();
    }

    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");
    FakeDevice* fake = nullptr;
    QPointer<frmMidiPlayer> window;
    QVariantMap announced;
    QStringList unanswered;
};

QTEST_MAIN(tst_Mpris)
#include "tst_mpris.moc"
