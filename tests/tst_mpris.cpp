// The media controls (MPRIS) on a private session bus: a connection of the test's own calls
// the real window over a recording fake device, as the desktop's panel or playerctl would.

#include "Assets.h"
#include "CommonDialog.h"
#include "FakeDevice.h"
#include "MultimediaControl.h"
#include "Support.h"
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
        std::unique_ptr<md::Device> device(fake = new FakeDevice);
        if (QTest::currentTestFunction() == QLatin1String("metadataAndSeekFollowThePiece"))
            device = std::make_unique<md::SynthDevice>(test::offline());
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
    // not pausing (also a piece rendered to its end but still heard), or not starting from a
    // pause; Stop not disarming or not rewinding; Pause, Next and Previous not the control's
    // buttons; Quit not being File > Exit.
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
        call("PlayPause");   // Start again
        QCOMPARE(mm->updateInterval(), 55);
        call("Stop");
        QCOMPARE(mm->updateInterval(), 0);
        QTRY_COMPARE(announced.value("PlaybackStatus"), QVariant("Stopped"));
        for (const char* method : {"Pause", "Next", "Previous"})   // Pause is disabled when stopped
            call(method);
        QCOMPARE(*fake->log, (FakeDevice::Log{"open /music/a.mid", "prev", "play", "pause", "stop", "prev", "next", "prev"}));
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
    // unencoded URL), kept after a failed open, or not announced. On the real device, rendered
    // offline: the position not in microseconds of the piece's milliseconds; Seek, SetPosition,
    // Step and Next not kept to the piece, or obeying a position meant for another piece.
    void metadataAndSeekFollowThePiece()
    {
        test::Files files;
        open(files.write("first piece.mid", test::smf(0, 500, {test::track(test::noteOn(0, 0, 69) + test::noteOff(4320, 0, 69))})));
        QTRY_VERIFY(announced.contains("Metadata"));
        const auto m = qdbus_cast<QVariantMap>(announced.value("Metadata"));
        QCOMPARE(m.value("xesam:title"), QVariant("first piece.mid"));
        QCOMPARE(m.value("xesam:url"), QVariant("file://" + files.dir.path() + "/first%20piece.mid"));
        QCOMPARE(m.value("mpris:length"), QVariant(4320000LL));
        QCOMPARE(m.value("mpris:trackid").metaType(), QMetaType::fromType<QDBusObjectPath>());
        const auto position = [&] { return call("Get", {kPlayer, "Position"}, kProperties).value<QDBusVariant>().variant(); };
        call("SetPosition", {m.value("mpris:trackid"), 2000000LL});
        call("Seek", {1500000LL});
        QCOMPARE(position(), QVariant(3500000LL));
        call("Seek", {-99000000LL});
        QCOMPARE(position(), QVariant(0LL));
        call("SetPosition", {m.value("mpris:trackid"), 3000000LL});
        call("SetPosition", {QVariant::fromValue(QDBusObjectPath("/other")), 1000000LL});
        QCOMPARE(position(), QVariant(3000000LL));
        for (int i = 0; i < 2; ++i)
            window->findChild<QAbstractButton*>("Step")->click();
        QCOMPARE(position(), QVariant(4320000LL));
        call("Next");
        QCOMPARE(position(), QVariant(4320000LL));
        open(files.dir.filePath("missing.mid"));
        QTRY_COMPARE(qdbus_cast<QVariantMap>(announced.value("Metadata")), QVariantMap());
    }

private:
    QVariant call(const QString& method, const QVariantList& args = {}, const QString& interface = kPlayer)
    {
        auto message = QDBusMessage::createMethodCall("org.mpris.MediaPlayer2.mellowdeck", kPath, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = client.asyncCall(message);
        // The window answers on this thread: its events must flow meanwhile.
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }) || pending.isError())
            unanswered << method;
        return pending.reply().arguments().value(0);
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
