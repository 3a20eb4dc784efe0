// Hostile timing: the real window over the real device (rendered offline) driven through a
// long, seeded, random sequence of what a user can do: Start, Stop, the control's buttons,
// "Loop Sounds", File > Open of good and bad files, cancelling the dialog, with time passing
// and the poll firing in between. After every step the device must be in one of its five
// modes, inside the piece, and produce finite samples; whenever it has been left stopped it
// must fall silent within the release time.
//
//   MELLOWDECK_STRESS_EVENTS   number of events (default 6000)
//   MELLOWDECK_STRESS_SEED     seed of the sequence (default 1); a failure names its seed

#include "MidiBuilder.h"
#include "WindowRig.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using md::MultimediaControl;
using test::WindowRig;

namespace {

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

} // namespace

class tst_Stress : public QObject {
    Q_OBJECT

    test::TempFiles dir;
    QStringList good;
    QStringList bad;

    QString write(const QString& name, const QByteArray& bytes) { return dir.write(name, bytes); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        test::Track shortPiece;   // 0.3 s: ends often, so loops and stops meet
        shortPiece.noteOn(0, 0, 60).noteOn(0, 9, 42).noteOff(24, 9, 42).noteOff(24, 0, 60).end(10);
        test::Track pedal;        // chords held by the sustain pedal past every command
        pedal.cc(0, 0, 64, 127).program(0, 0, 48);
        for (int key : {48, 55, 64, 67})
            pedal.noteOn(0, 0, key, 90);
        pedal.bend(96, 0, 12000).cc(0, 0, 7, 60).noteOn(96, 1, 72).end(96 * 6);
        test::Track instant;      // ends where it begins
        instant.noteOn(0, 2, 60).end(0);
        test::Track many;         // several channels and tempos, 4 s
        many.tempo(0, 400000);
        for (int i = 0; i < 32; ++i)
            many.noteOn(i ? 12 : 0, i % 16, 40 + i).noteOff(12, i % 16, 40 + i).tempo(0, 300000 + i * 20000);
        many.end(48);
        good << write("short.mid", test::smf(0, 96, {shortPiece})) << write("pedal.mid", test::smf(0, 96, {pedal}))
             << write("instant.mid", test::smf(0, 96, {instant})) << write("many.mid", test::smf(1, 96, {many, shortPiece}));
        bad << write("text.mid", "not music at all\n") << dir.path("missing.mid") << dir.path()
            << write("cut.mid", test::smf(0, 96, {pedal}).left(30)) << QStringLiteral("/dev/zero");
    }

    void randomUse()
    {
        const int events = envInt("MELLOWDECK_STRESS_EVENTS", 6000);
        const int seed = envInt("MELLOWDECK_STRESS_SEED", 1);
        std::mt19937 rng{static_cast<uint32_t>(seed)};
        auto pick = [&](int n) { return int(rng() % uint32_t(n)); };

        WindowRig rig;
        QVERIFY(rig.complete());
        int opens = 0, refusals = 0, cancels = 0, silences = 0;
        QString last = "start";
        for (int step = 0; step < events; ++step) {
            switch (pick(16)) {
            case 0: rig.btnStart->click(); last = "Start"; break;
            case 1: rig.btnStop->click(); last = "Stop"; break;
            case 2: rig.chkLoopSounds->click(); last = "Loop Sounds"; break;
            case 3: {
                const int which = pick(10);
                if (which < 6) {
                    rig.open(good[pick(int(good.size()))]);
                    opens += rig.mm->mode() != int(md::Mode::NotOpen);
                    last = "open good";
                } else if (which < 9) {
                    rig.open(bad[pick(int(bad.size()))]);
                    refusals += rig.mm->mode() == int(md::Mode::NotOpen);
                    last = "open bad";
                } else {
                    // Cancelled, with the poll firing while the dialog is open.
                    rig.whileDialogOpen = [&] { rig.play(test::kPollFrames * (1 + pick(3))); };
                    rig.open(std::nullopt);
                    rig.whileDialogOpen = nullptr;
                    ++cancels;
                    last = "cancel";
                }
                break;
            }
            case 4: case 5: case 6: {
                // One of the control's own buttons; a disabled one ignores the click.
                const auto b = static_cast<MultimediaControl::Button>(pick(MultimediaControl::kButtonCount));
                rig.mm->button(b)->click();
                last = "control button " + QString::number(int(b));
                break;
            }
            default:
                // Time passes: up to a quarter of a second, the poll firing on time.
                rig.play(test::kBlock * (1 + pick(180)));
                last = "time";
                break;
            }

            const int mode = rig.mm->mode();
            const int64_t position = rig.device->positionFrames();
            QVERIFY2(test::validMode(mode), qPrintable(QString("seed %1 step %2 (%3): mode %4").arg(seed).arg(step).arg(last).arg(mode)));
            QVERIFY2(position >= 0 && position <= rig.device->lengthFrames(),
                     qPrintable(QString("seed %1 step %2 (%3): position %4").arg(seed).arg(step).arg(last).arg(position)));
            QVERIFY2(!rig.nonFinite, qPrintable(QString("seed %1 step %2 (%3): non-finite sample").arg(seed).arg(step).arg(last)));

            // Left stopped with nothing to restart it: it must fall silent.
            const bool disarmed = rig.mm->updateInterval() == 0;
            const bool looping = rig.chkLoopSounds->isChecked();
            const bool restsStopped = mode == int(md::Mode::NotOpen) || (mode == int(md::Mode::Stopped) && disarmed) ||
                                      (mode == int(md::Mode::Paused) && (disarmed || looping));
            if (restsStopped && pick(8) == 0) {
                QVERIFY2(rig.renderUntilSilent(), qPrintable(QString("seed %1 step %2 (%3): %4 voices long after the device stopped")
                                                                 .arg(seed).arg(step).arg(last).arg(rig.device->activeVoices())));
                ++silences;
            }
        }
        qInfo("seed %d: %d events, %d opens, %d refusals, %d cancels, %d silences checked, %.0f s of audio",
              seed, events, opens, refusals, cancels, silences, double(rig.rendered) / test::kRate);
        QVERIFY(opens > 0 && refusals > 0 && cancels > 0 && silences > 0);
    }
};

QTEST_MAIN(tst_Stress)
#include "tst_stress.moc"
