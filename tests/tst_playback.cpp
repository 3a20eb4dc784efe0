// The handlers, the multimedia control and the Open dialog, over a device that logs commands.

#include "FakeDevice.h"
#include "Handlers.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using md::MultimediaControl;
Q_DECLARE_METATYPE(md::Mode)

namespace {

// The controls the handlers touch, set up as the window sets them up.
struct Rig {
    FakeDevice* device = new FakeDevice;
    std::shared_ptr<FakeDevice::Log> log = device->log;
    QWidget window;
    MultimediaControl* mm = new MultimediaControl(std::unique_ptr<md::Device>(device), &window);
    md::CommonDialog* dialog = new md::CommonDialog(&window);
    QPushButton* btnStart = new QPushButton(&window);
    QPushButton* btnStop = new QPushButton(&window);
    QCheckBox* chkLoopSounds = new QCheckBox(&window);
    QLabel* lblFileName = new QLabel(QStringLiteral("[none]"), &window);
    md::PlayerControls c{*mm, *dialog, *btnStart, *btnStop, *chkLoopSounds, *lblFileName};
    std::optional<QString> choice;   // what the user picks in the dialog; nothing: Cancel

    Rig()
    {
        dialog->setChooser([this](QFileDialog&) { return choice; });
        btnStart->setEnabled(false);
        btnStop->setEnabled(false);
        QObject::connect(mm, &MultimediaControl::OutputChanged, [this] { md::MMControl1_OutputChanged(c); });
        // Each command is logged with the poll interval in force when it came.
        device->onCommand = [this](QString& entry) { entry += " @" + QString::number(mm->updateInterval()); };
    }
    void load(const QString& path, md::Mode mode, int interval)
    {
        mm->setFileName(path);
        mm->setCommand(QStringLiteral("Open"));
        device->currentMode = mode;
        mm->setUpdateInterval(interval);
        log->clear();
    }
    QString enabledButtons() const
    {
        QStringList on;
        for (QAbstractButton* b : mm->findChildren<QAbstractButton*>())
            on << (b->isEnabled() ? b->objectName() : QString());
        return on.join(' ').simplified();
    }
};

} // namespace

class TestPlayback : public QObject {
    Q_OBJECT

private slots:
    void openSequence_data()
    {
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing loaded") << "" << "/m/a.mid" << QStringList{"open /m/a.mid @0"};
        QTest::newRow("another one playing") << "/m/a.mid" << "/m/b.rmi" << QStringList{"close @0", "open /m/b.rmi @0"};
        // Choosing the loaded piece again leaves it ready at its beginning, not closed for good.
        QTest::newRow("the same again") << "/m/a.mid" << "/m/a.mid" << QStringList{"close @0", "open /m/a.mid @0"};
    }

    void openSequence()
    {
        QFETCH(QString, loaded);
        QFETCH(QString, chosen);
        QFETCH(QStringList, expected);
        Rig rig;
        if (!loaded.isEmpty())
            rig.load(loaded, md::Mode::Playing, md::kPollMs);
        rig.mm->setDeviceType(QStringLiteral("CDAudio"));
        rig.choice = chosen;
        md::mnuFileOpen_Click(rig.c);
        QCOMPARE(*rig.log, expected);
        QVERIFY(rig.mm->wait());
        QCOMPARE(rig.mm->deviceType(), QStringLiteral("Sequencer"));
        QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));
        QCOMPARE(rig.mm->updateInterval(), 0);
        QVERIFY(rig.btnStart->isEnabled() && rig.btnStop->isEnabled());
        QCOMPARE(rig.lblFileName->text(), chosen);
    }

    // A Cancel changes nothing; the next Open goes through, offering the last piece's folder.
    void cancelChangesNothing()
    {
        Rig rig;
        rig.load(QStringLiteral("/m/a.mid"), md::Mode::Playing, md::kPollMs);
        rig.dialog->setFileName(QDir::tempPath() + "/a.mid");
        md::mnuFileOpen_Click(rig.c);
        QVERIFY(rig.log->isEmpty());
        QCOMPARE(rig.mm->updateInterval(), md::kPollMs);
        QVERIFY(!rig.mm->wait() && !rig.btnStart->isEnabled());
        QCOMPARE(rig.lblFileName->text(), QStringLiteral("[none]"));
        rig.dialog->setChooser([](QFileDialog& d) { return std::optional(d.directory().path() + "/b.mid"); });
        md::mnuFileOpen_Click(rig.c);
        QCOMPARE(*rig.log, (QStringList{"close @0", "open " + QDir::tempPath() + "/b.mid @0"}));
    }

    // The box holds the whole path, or says what went wrong with the reason as its tooltip: a
    // file that did not open (Start stays enabled; the next piece that opens is shown), then an
    // output lost without any command, until it is back.
    void labelSaysWhatWentWrong()
    {
        Rig rig;
        const QString path = "/home/" + QStringLiteral("song/").repeated(16) + "piece.mid";
        rig.choice = path;
        for (bool fails : {true, false, true, false}) {
            rig.device->failing = {fails ? "open" : ""};
            if (fails)
                QTest::ignoreMessage(QtWarningMsg, qPrintable("[cannot open] " + path + ": scripted failure"));
            md::mnuFileOpen_Click(rig.c);
            QCOMPARE(rig.lblFileName->text(), fails ? "[cannot open] " + path : path);
            QCOMPARE(rig.lblFileName->toolTip(), fails ? QStringLiteral("scripted failure") : path);
            QVERIFY(rig.btnStart->isEnabled());
        }
        QSignalSpy changed(rig.mm, &MultimediaControl::OutputChanged);
        rig.device->output = "the sound server went away";
        QTest::ignoreMessage(QtWarningMsg, qPrintable("[no audio output] " + path + ": the sound server went away"));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(rig.lblFileName->text(), "[no audio output] " + path);
        QCOMPARE(rig.lblFileName->toolTip(), QStringLiteral("the sound server went away"));
        rig.device->output.clear();
        rig.mm->setCommand(QStringLiteral("Play"));
        QCOMPARE(rig.lblFileName->text(), path);
    }

    void transport_data()
    {
        QTest::addColumn<int>("interval");   // before
        QTest::addColumn<Qt::CheckState>("loop");
        QTest::addColumn<md::Mode>("mode");   // NotOpen: no piece chosen
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("after");
        const auto on = Qt::Checked, off = Qt::Unchecked;
        const QStringList prevPlay{"prev @55", "play @55"};
        using M = md::Mode;
        QTest::newRow("Start arms") << 0 << off << M::Stopped << "btnStart" << QStringList{} << 55;
        QTest::newRow("Start, no piece") << 0 << off << M::NotOpen << "btnStart" << QStringList{} << 0;
        QTest::newRow("Stop, no piece") << 55 << off << M::NotOpen << "btnStop" << QStringList{} << 55;
        QTest::newRow("Stop while armed") << 55 << on << M::Playing << "btnStop" << QStringList{"stop @0", "prev @0"} << 0;
        QTest::newRow("poll, looping, stopped") << 55 << on << M::Stopped << "poll" << prevPlay << 55;
        QTest::newRow("poll, looping, playing") << 55 << on << M::Playing << "poll" << QStringList{} << 55;
        QTest::newRow("poll, looping, paused") << 55 << on << M::Paused << "poll" << QStringList{} << 55;
        QTest::newRow("poll, once") << 55 << off << M::Playing << "poll" << prevPlay << 0;
        QTest::newRow("poll, greyed box plays once") << 55 << Qt::PartiallyChecked << M::Stopped << "poll" << prevPlay << 0;
    }

    void transport()
    {
        QFETCH(int, interval);
        QFETCH(Qt::CheckState, loop);
        QFETCH(md::Mode, mode);
        QFETCH(QString, event);
        QFETCH(QStringList, expected);
        QFETCH(int, after);
        Rig rig;
        rig.chkLoopSounds->setTristate(true);
        rig.chkLoopSounds->setCheckState(loop);
        rig.load(mode == md::Mode::NotOpen ? QString() : QStringLiteral("/m/a.mid"), mode, interval);
        if (event == "btnStart")
            md::btnStart_Click(rig.c);
        else if (event == "btnStop")
            md::btnStop_Click(rig.c);
        else
            md::MMControl1_StatusUpdate(rig.c);
        QCOMPARE(*rig.log, expected);
        QCOMPARE(rig.mm->updateInterval(), after);
    }

    // Play and Stop raise PlayClick and StopClick before they act, and heed a cancel.
    void controlButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<md::Mode>("mode");
        QTest::addColumn<int>("cancel");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Play") << "Play" << md::Mode::Stopped << 0 << QStringList{"PlayClick", "play @0"};
        QTest::newRow("Play cancelled") << "Play" << md::Mode::Stopped << 1 << QStringList{"PlayClick"};
        QTest::newRow("Stop") << "Stop" << md::Mode::Playing << 0 << QStringList{"StopClick", "stop @0"};
        QTest::newRow("Back") << "Back" << md::Mode::Stopped << 0 << QStringList{"seek 4000 @0"};
    }

    void controlButtons()
    {
        QFETCH(QString, button);
        QFETCH(md::Mode, mode);
        QFETCH(int, cancel);
        QFETCH(QStringList, expected);
        Rig rig;
        rig.load(QStringLiteral("/m/a.mid"), mode, 0);
        rig.device->position = 5000;
        auto ask = [&](const char* name) { return [&, name](int& flag) { rig.log->push_back(name), flag = cancel; }; };
        connect(rig.mm, &MultimediaControl::PlayClick, this, ask("PlayClick"));
        connect(rig.mm, &MultimediaControl::StopClick, this, ask("StopClick"));
        auto* b = rig.mm->findChild<QAbstractButton*>(button);
        QTRY_VERIFY(b->isEnabled());
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(*rig.log, expected);
    }

    void buttonsFollowTheMode_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("enabled");
        QTest::newRow("nothing open") << "Close" << "";
        QTest::newRow("stopped") << "Stop" << "Prev Next Play Back Step";
        QTest::newRow("playing") << "Play" << "Prev Next Pause Back Step Stop";
        QTest::newRow("paused") << "Pause" << "Prev Next Play Back Step";
    }

    void buttonsFollowTheMode()
    {
        QFETCH(QString, command);
        QFETCH(QString, enabled);
        Rig rig;
        rig.load(QStringLiteral("/m/a.mid"), md::Mode::Stopped, 0);
        rig.mm->setCommand(QStringLiteral("Play"));
        rig.mm->setCommand(command);
        QCOMPARE(rig.enabledButtons(), enabled);
        rig.mm->setCommand(QStringLiteral("Play"));
        rig.device->currentMode = md::Mode::Stopped;   // the piece ran out by itself,
        rig.device->heard = md::Mode::Playing;         // but its end is not heard yet
        QTest::qWait(300);
        QCOMPARE(rig.enabledButtons(), QStringLiteral("Prev Next Pause Back Step Stop"));
        rig.device->heard.reset();
        QTRY_COMPARE(rig.enabledButtons(), QStringLiteral("Prev Next Play Back Step"));
    }

    // Names match the filter whatever their case, even where the platform's default is otherwise.
    void dialogListsMidiFilesWhateverTheirCase()
    {
        QTemporaryDir dir;
        for (const char* name : {"a.mid", "B.MID", "c.Rmi", "notes.txt", "e.midi"})
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        md::CommonDialog d;
        d.setFilter(QStringLiteral("MIDI Files (*.mid,*.rmi)|*.mid;*.rmi|"));
        QFileDialog dialog;
        dialog.setFilter(dialog.filter() | QDir::CaseSensitive);
        d.configure(dialog);
        const QDir listed(dir.path(), QStringLiteral("*.mid *.rmi"), QDir::Name | QDir::IgnoreCase, dialog.filter());
        QCOMPARE(listed.entryList(), (QStringList{"a.mid", "B.MID", "c.Rmi"}));
    }
};

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
