// The playback handlers and the multimedia control, against a device that records commands.

#include "FakeDevice.h"
#include "Handlers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using md::MultimediaControl;

namespace {

QStringList toList(const FakeDevice::Log& log)
{
    QStringList out;
    for (const std::string& entry : log)
        out << QString::fromStdString(entry);
    return out;
}

// The controls the handlers touch, as the window sets them up, over a fake device.
struct Rig {
    std::shared_ptr<FakeDevice::Log> log = std::make_shared<FakeDevice::Log>();
    FakeDevice* device = new FakeDevice(log);
    QWidget window;
    MultimediaControl* mm = new MultimediaControl(std::unique_ptr<md::Device>(device), &window);
    md::CommonDialog* dialog = new md::CommonDialog(&window);
    QPushButton* btnStart = new QPushButton(&window);
    QPushButton* btnStop = new QPushButton(&window);
    QCheckBox* chkLoopSounds = new QCheckBox(QStringLiteral("Loop Sounds"), &window);
    QLabel* lblFileName = new QLabel(QStringLiteral("[none]"), &window);
    md::PlayerControls c{*mm, *dialog, *btnStart, *btnStop, *chkLoopSounds, *lblFileName};
    std::optional<QString> choice;   // what the user picks in the dialog; nothing = Cancel

    Rig()
    {
        dialog->setChooser([this](QFileDialog&) { return choice; });
        btnStart->setEnabled(false);
        btnStop->setEnabled(false);
        chkLoopSounds->setTristate(true);
        lblFileName->setFrameStyle(QFrame::Box | QFrame::Plain);
        lblFileName->setGeometry(56, 72, 195, 17);
    }

    // Opens `path` directly on the control and forgets the commands that took.
    void load(const QString& path)
    {
        mm->setFileName(path);
        mm->setCommand(QStringLiteral("Open"));
        log->clear();
    }

    // From now on each command is logged with the UpdateInterval in force when it came.
    void logIntervals()
    {
        device->onCommand = [this](const std::string& entry) {
            log->back() = entry + " @" + std::to_string(mm->updateInterval());
        };
    }

    QStringList commands() const { return toList(*log); }
};

QString enabledButtons(const MultimediaControl& mm)
{
    static const char* const names[] = {"Prev", "Next", "Play", "Pause", "Back",
                                        "Step", "Stop", "Record", "Eject"};
    QStringList on;
    for (int i = 0; i < MultimediaControl::kButtonCount; ++i) {
        if (mm.button(static_cast<MultimediaControl::Button>(i))->isEnabled())
            on << QLatin1String(names[i]);
    }
    return on.join(QLatin1Char(' '));
}

} // namespace

class tst_Handlers : public QObject {
    Q_OBJECT

private slots:
    // File > Open
    void openSequence_data();
    void openSequence();
    void cancelChangesNothing();
    void unopenableFileIsMarked();
    void longPathIsElidedInTheMiddle();

    // Start, Stop and the poll
    void transport_data();
    void transport();

    // The multimedia control
    void controlButtons_data();
    void controlButtons();
    void buttonsFollowTheMode_data();
    void buttonsFollowTheMode();
    void buttonsNoticeTheEndOfThePiece();
    void commandsReportErrorsWithoutInterrupting();
    void fileNameOutlivesClose();
    void updateIntervalRaisesStatusUpdate();
    void rewritingTheIntervalKeepsItsPhase();
};

void tst_Handlers::openSequence_data()
{
    QTest::addColumn<QString>("loaded");   // open on the device before; empty: nothing
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("nothing loaded") << QString() << "/music/a.mid" << QStringList{"open /music/a.mid @0"};
    QTest::newRow("another file loaded")
        << "/music/a.mid" << "/music/b.rmi" << QStringList{"close @0", "open /music/b.rmi @0"};
    // The loaded file chosen again is closed and opened again, not left closed.
    QTest::newRow("the loaded file again")
        << "/music/a.mid" << "/music/a.mid" << QStringList{"close @0", "open /music/a.mid @0"};
    QTest::newRow("the loaded file, other letter case")
        << "/music/a.mid" << "/music/A.MID" << QStringList{"close @0", "open /music/A.MID @0"};
}

void tst_Handlers::openSequence()
{
    QFETCH(QString, loaded);
    QFETCH(QString, chosen);
    QFETCH(QStringList, expected);

    QStringList stateAtEachCommand;   // outlives the rig, whose device is closed at the end
    Rig rig;
    if (!loaded.isEmpty()) {
        rig.load(loaded);
        rig.mm->setCommand(QStringLiteral("Play"));
        rig.mm->setUpdateInterval(md::kPollMs);
        rig.log->clear();
    }
    rig.mm->setDeviceType(QStringLiteral("CDAudio"));   // must be put right before opening
    rig.device->onCommand = [&](const std::string& entry) {
        rig.log->back() = entry + " @" + std::to_string(rig.mm->updateInterval());
        stateAtEachCommand << QStringLiteral("wait=%1 type=%2 file=%3")
                                  .arg(rig.mm->wait())
                                  .arg(rig.mm->deviceType(), rig.mm->fileName());
    };
    rig.choice = chosen;

    md::mnuFileOpen_Click(rig.c);

    QCOMPARE(rig.commands(), expected);
    QCOMPARE(stateAtEachCommand.last(), QStringLiteral("wait=1 type=Sequencer file=%1").arg(chosen));
    QVERIFY(stateAtEachCommand.first().startsWith(QLatin1String("wait=1")));
    QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));
    QCOMPARE(rig.mm->updateInterval(), 0);
    QVERIFY(rig.btnStart->isEnabled());
    QVERIFY(rig.btnStop->isEnabled());
    QCOMPARE(rig.lblFileName->text(), chosen);
    QCOMPARE(rig.lblFileName->toolTip(), chosen);
}

void tst_Handlers::cancelChangesNothing()
{
    Rig rig;
    rig.load(QStringLiteral("/music/a.mid"));
    rig.mm->setCommand(QStringLiteral("Play"));
    rig.mm->setUpdateInterval(md::kPollMs);
    rig.log->clear();
    rig.choice = std::nullopt;

    md::mnuFileOpen_Click(rig.c);

    QVERIFY(rig.commands().isEmpty());
    QCOMPARE(rig.mm->mode(), int(md::Mode::Playing));
    QCOMPARE(rig.mm->updateInterval(), md::kPollMs);
    QCOMPARE(rig.mm->wait(), false);
    QCOMPARE(rig.mm->fileName(), QStringLiteral("/music/a.mid"));
    QCOMPARE(rig.lblFileName->text(), QStringLiteral("[none]"));
    QVERIFY(!rig.btnStart->isEnabled());
    QVERIFY(!rig.btnStop->isEnabled());
}

void tst_Handlers::unopenableFileIsMarked()
{
    Rig rig;
    rig.device->failing = {"open"};
    rig.device->failMessage = "not a MIDI file: no MThd header";
    rig.choice = QStringLiteral("/music/notes.txt");
    QTest::ignoreMessage(QtWarningMsg, "[cannot open] /music/notes.txt: not a MIDI file: no MThd header");

    md::mnuFileOpen_Click(rig.c);

    QCOMPARE(rig.lblFileName->text(), QStringLiteral("[cannot open] /music/notes.txt"));
    QCOMPARE(rig.lblFileName->toolTip(), QStringLiteral("not a MIDI file: no MThd header"));
    QVERIFY(rig.btnStart->isEnabled());
    QVERIFY(rig.btnStop->isEnabled());
    QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));

    // Start then finds nothing to play: the poll's commands fail quietly.
    rig.log->clear();
    md::btnStart_Click(rig.c);
    md::MMControl1_StatusUpdate(rig.c);
    QCOMPARE(rig.commands(), (QStringList{"prev", "play"}));
    QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
    QVERIFY(rig.mm->error() != MultimediaControl::NoError);

    // The next file that opens clears the mark.
    rig.device->failing.clear();
    rig.choice = QStringLiteral("/music/a.mid");
    md::mnuFileOpen_Click(rig.c);
    QCOMPARE(rig.lblFileName->text(), QStringLiteral("/music/a.mid"));
    QCOMPARE(rig.lblFileName->toolTip(), QStringLiteral("/music/a.mid"));
}

void tst_Handlers::longPathIsElidedInTheMiddle()
{
    Rig rig;
    const QString path = QStringLiteral("/home/somebody/Music/Collections/Nineties/Game Soundtracks/"
                                        "Disc 2/a rather long file name.mid");
    rig.choice = path;
    md::mnuFileOpen_Click(rig.c);

    const QString shown = rig.lblFileName->text();
    QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
    QVERIFY(shown.startsWith(QLatin1String("/home")));
    QVERIFY(shown.endsWith(QLatin1String("name.mid")));
    QVERIFY(rig.lblFileName->fontMetrics().horizontalAdvance(shown) < rig.lblFileName->contentsRect().width());
    QCOMPARE(rig.lblFileName->toolTip(), path);
}

void tst_Handlers::transport_data()
{
    QTest::addColumn<bool>("armed");
    QTest::addColumn<Qt::CheckState>("loop");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QStringList>("expected");   // each command with the interval in force
    QTest::addColumn<int>("interval");           // afterwards

    const QString file = QStringLiteral("/music/a.mid");
    const auto off = Qt::Unchecked;
    const int stopped = int(md::Mode::Stopped);
    const int playing = int(md::Mode::Playing);
    const int paused = int(md::Mode::Paused);
    const int none = int(md::Mode::NotOpen);
    const QStringList stopPrev{"stop @0", "prev @0"};
    const QStringList prevPlay{"prev @55", "play @55"};

    QTest::newRow("disarmed, Start: arm") << false << off << stopped << file << "btnStart" << QStringList{} << 55;
    QTest::newRow("armed, Start: arm again") << true << off << playing << file << "btnStart" << QStringList{} << 55;
    QTest::newRow("disarmed, control's Play: arm") << false << off << stopped << file << "PlayClick" << QStringList{} << 55;
    QTest::newRow("armed, control's Play: arm again") << true << Qt::Checked << playing << file << "PlayClick" << QStringList{} << 55;
    QTest::newRow("Start with no file name: nothing") << false << off << none << QString() << "btnStart" << QStringList{} << 0;

    QTest::newRow("armed, Stop: disarm, Stop, Prev") << true << Qt::Checked << playing << file << "btnStop" << stopPrev << 0;
    QTest::newRow("disarmed, Stop while playing") << false << off << playing << file << "btnStop" << stopPrev << 0;
    QTest::newRow("disarmed, Stop while stopped") << false << off << stopped << file << "btnStop" << stopPrev << 0;
    QTest::newRow("armed, control's Stop") << true << Qt::Checked << playing << file << "StopClick" << stopPrev << 0;
    QTest::newRow("Stop with nothing open: commands fail quietly") << true << off << none << file << "btnStop" << stopPrev << 0;
    QTest::newRow("Stop with no file name: nothing") << true << off << none << QString() << "btnStop" << QStringList{} << 55;

    QTest::newRow("poll, looping, stopped: Prev, Play") << true << Qt::Checked << stopped << file << "StatusUpdate" << prevPlay << 55;
    QTest::newRow("poll, looping, playing: nothing") << true << Qt::Checked << playing << file << "StatusUpdate" << QStringList{} << 55;
    QTest::newRow("poll, looping, paused: nothing") << true << Qt::Checked << paused << file << "StatusUpdate" << QStringList{} << 55;
    QTest::newRow("poll, looping, nothing open: nothing") << true << Qt::Checked << none << file << "StatusUpdate" << QStringList{} << 55;
    QTest::newRow("poll, once: Prev, Play, disarm") << true << off << playing << file << "StatusUpdate" << prevPlay << 0;
    QTest::newRow("poll, once, stopped: Prev, Play, disarm") << true << off << stopped << file << "StatusUpdate" << prevPlay << 0;
    QTest::newRow("poll, greyed box plays once") << true << Qt::PartiallyChecked << stopped << file << "StatusUpdate" << prevPlay << 0;
    QTest::newRow("poll, once, nothing open: fails quietly, disarms") << true << off << none << file << "StatusUpdate" << prevPlay << 0;
}

void tst_Handlers::transport()
{
    QFETCH(bool, armed);
    QFETCH(Qt::CheckState, loop);
    QFETCH(int, mode);
    QFETCH(QString, fileName);
    QFETCH(QString, event);
    QFETCH(QStringList, expected);
    QFETCH(int, interval);

    Rig rig;
    rig.mm->setFileName(fileName);
    rig.device->currentMode = static_cast<md::Mode>(mode);
    rig.chkLoopSounds->setCheckState(loop);
    rig.mm->setUpdateInterval(armed ? md::kPollMs : 0);
    rig.logIntervals();

    int cancel = 0;
    if (event == QLatin1String("btnStart"))
        md::btnStart_Click(rig.c);
    else if (event == QLatin1String("btnStop"))
        md::btnStop_Click(rig.c);
    else if (event == QLatin1String("PlayClick"))
        md::MMControl1_PlayClick(rig.c, cancel);
    else if (event == QLatin1String("StopClick"))
        md::MMControl1_StopClick(rig.c, cancel);
    else
        md::MMControl1_StatusUpdate(rig.c);

    QCOMPARE(rig.commands(), expected);
    QCOMPARE(rig.mm->updateInterval(), interval);
    QCOMPARE(cancel, 0);
    QCOMPARE(rig.chkLoopSounds->checkState(), loop);
}

// Play and Stop ask first (PlayClick, StopClick) and heed a cancel; the others act at once.
void tst_Handlers::controlButtons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mode");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("cancel");
    QTest::addColumn<QStringList>("expected");

    const int playing = int(md::Mode::Playing);
    const int stopped = int(md::Mode::Stopped);
    auto row = [](const char* name, MultimediaControl::Button b, int mode, qint64 position, int cancel,
                  const QStringList& expected) {
        QTest::newRow(name) << int(b) << mode << position << cancel << expected;
    };
    row("Play, not cancelled", MultimediaControl::Play, stopped, 0, 0, {"PlayClick", "play"});
    row("Play, cancelled", MultimediaControl::Play, stopped, 0, 1, {"PlayClick"});
    row("Stop, not cancelled", MultimediaControl::Stop, playing, 0, 0, {"StopClick", "stop"});
    row("Stop, cancelled", MultimediaControl::Stop, playing, 0, -1, {"StopClick"});
    row("Prev", MultimediaControl::Prev, playing, 5000, 0, {"prev"});
    row("Next", MultimediaControl::Next, stopped, 0, 0, {"next"});
    row("Pause", MultimediaControl::Pause, playing, 5000, 0, {"pause"});
    row("Back", MultimediaControl::Back, stopped, 5000, 0, {"seek 4000"});
    row("Back near the start", MultimediaControl::Back, stopped, 300, 0, {"seek 0"});
    row("Step", MultimediaControl::Step, playing, 5000, 0, {"seek 6000"});
}

void tst_Handlers::controlButtons()
{
    QFETCH(int, button);
    QFETCH(int, mode);
    QFETCH(qint64, position);
    QFETCH(int, cancel);
    QFETCH(QStringList, expected);

    Rig rig;
    rig.load(QStringLiteral("/music/a.mid"));
    rig.device->currentMode = static_cast<md::Mode>(mode);
    rig.device->position = position;
    auto ask = [&](const char* name) {
        return [&, name](int& flag) {
            rig.log->push_back(name);
            QCOMPARE(flag, 0);
            flag = cancel;
        };
    };
    connect(rig.mm, &MultimediaControl::PlayClick, this, ask("PlayClick"));
    connect(rig.mm, &MultimediaControl::StopClick, this, ask("StopClick"));
    auto* b = rig.mm->button(static_cast<MultimediaControl::Button>(button));
    QTRY_VERIFY(b->isEnabled());

    QTest::mouseClick(b, Qt::LeftButton);

    QCOMPARE(rig.commands(), expected);
    QCOMPARE(rig.mm->error(), int(MultimediaControl::NoError));
}

void tst_Handlers::buttonsFollowTheMode_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("enabled");

    QTest::newRow("nothing open") << "Close" << "";
    QTest::newRow("stopped") << "Stop" << "Prev Next Play Back Step";
    QTest::newRow("playing") << "Play" << "Prev Next Pause Back Step Stop";
    QTest::newRow("paused") << "Pause" << "Prev Next Play Back Step";
}

void tst_Handlers::buttonsFollowTheMode()
{
    QFETCH(QString, command);
    QFETCH(QString, enabled);

    Rig rig;
    QCOMPARE(enabledButtons(*rig.mm), QString());
    rig.load(QStringLiteral("/music/a.mid"));
    rig.mm->setCommand(QStringLiteral("Play"));
    rig.mm->setCommand(command);
    // At once, without waiting for the periodic check.
    QCOMPARE(enabledButtons(*rig.mm), enabled);
}

void tst_Handlers::buttonsNoticeTheEndOfThePiece()
{
    Rig rig;
    rig.load(QStringLiteral("/music/a.mid"));
    rig.mm->setCommand(QStringLiteral("Play"));
    QVERIFY(!rig.mm->button(MultimediaControl::Play)->isEnabled());

    rig.device->currentMode = md::Mode::Stopped;   // the piece ran out by itself
    QTRY_COMPARE_WITH_TIMEOUT(enabledButtons(*rig.mm), QStringLiteral("Prev Next Play Back Step"), 2000);
}

void tst_Handlers::commandsReportErrorsWithoutInterrupting()
{
    Rig rig;
    rig.mm->setCommand(QStringLiteral("Rewind"));
    QCOMPARE(rig.mm->error(), int(MultimediaControl::UnknownCommand));
    QVERIFY(rig.mm->errorMessage().contains(QLatin1String("Rewind")));
    QVERIFY(rig.commands().isEmpty());

    rig.mm->setCommand(QStringLiteral("Play"));   // nothing open
    QCOMPARE(rig.mm->error(), int(MultimediaControl::DeviceError));
    QCOMPARE(rig.mm->errorMessage(), QStringLiteral("no device open"));

    rig.mm->setFileName(QStringLiteral("/music/a.mid"));
    rig.mm->setDeviceType(QStringLiteral("Sequencer"));
    rig.mm->setCommand(QStringLiteral("open"));   // words are not case-sensitive
    QCOMPARE(rig.mm->error(), int(MultimediaControl::NoError));
    QCOMPARE(rig.mm->errorMessage(), QString());
    QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));

    rig.device->failing = {"play"};
    rig.device->failMessage = "no audio output device could be opened";
    rig.mm->setCommand(QStringLiteral("Play"));
    QCOMPARE(rig.mm->error(), int(MultimediaControl::DeviceError));
    QCOMPARE(rig.mm->errorMessage(), QStringLiteral("no audio output device could be opened"));
    rig.mm->setCommand(QStringLiteral("Prev"));
    QCOMPARE(rig.mm->error(), int(MultimediaControl::NoError));

    rig.log->clear();
    rig.mm->setDeviceType(QStringLiteral("CDAudio"));
    rig.mm->setCommand(QStringLiteral("Open"));
    QCOMPARE(rig.mm->error(), int(MultimediaControl::UnsupportedDevice));
    QVERIFY(rig.commands().isEmpty());

    MultimediaControl empty;   // no device given
    QCOMPARE(empty.mode(), int(md::Mode::NotOpen));
    empty.setCommand(QStringLiteral("Play"));
    QCOMPARE(empty.error(), int(MultimediaControl::NoDevice));
    QCOMPARE(empty.property("Command").toString(), QStringLiteral("Play"));
}

void tst_Handlers::fileNameOutlivesClose()
{
    Rig rig;
    QCOMPARE(rig.mm->property("Mode").toInt(), 524);
    rig.mm->setProperty("FileName", QStringLiteral("/music/a.mid"));
    rig.mm->setProperty("Command", QStringLiteral("Open"));
    QCOMPARE(rig.mm->property("Mode").toInt(), 525);
    rig.mm->setProperty("Command", QStringLiteral("Close"));
    QCOMPARE(rig.mm->property("Mode").toInt(), 524);
    QCOMPARE(rig.mm->property("FileName").toString(), QStringLiteral("/music/a.mid"));
    QCOMPARE(rig.mm->property("Error").toInt(), 0);
}

void tst_Handlers::updateIntervalRaisesStatusUpdate()
{
    Rig rig;
    QSignalSpy spy(rig.mm, &MultimediaControl::StatusUpdate);
    rig.mm->setProperty("UpdateInterval", 20);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 2000);

    rig.mm->setUpdateInterval(0);
    const auto seen = spy.count();
    QTest::qWait(120);
    QCOMPARE(spy.count(), seen);

    // A 16-bit quantity.
    rig.mm->setUpdateInterval(70000);
    QCOMPARE(rig.mm->updateInterval(), 65535);
    rig.mm->setUpdateInterval(-5);
    QCOMPARE(rig.mm->updateInterval(), 0);
}

void tst_Handlers::rewritingTheIntervalKeepsItsPhase()
{
    // Start pressed while already armed must not put off the next poll.
    Rig rig;
    auto* timer = rig.mm->findChild<QTimer*>(QStringLiteral("StatusTimer"));
    QVERIFY(timer);
    rig.mm->setUpdateInterval(3000);
    QTest::qWait(700);
    const int before = timer->remainingTime();
    rig.mm->setUpdateInterval(3000);
    const int after = timer->remainingTime();
    QVERIFY2(after <= before && after < 2700, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));

    rig.mm->setUpdateInterval(2999);   // a new period starts afresh
    QVERIFY(timer->remainingTime() > 2500);
}

QTEST_MAIN(tst_Handlers)
#include "tst_handlers.moc"
