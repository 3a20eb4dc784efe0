// What the MIDI test suite's files say must be heard, measured from the device's output on the
// tests' SoundFont of pure tones (a sine at each key's pitch; the drum kit a sine at 880 Hz on
// every key). A tone's pitch is read from its zero crossings.

#include "Support.h"

#include <QtTest>

#include <cmath>

namespace {

using test::kRate;
using test::pitch;
constexpr double kDrum = 9999;   // in a list of cents: a drum (880 Hz, whatever the key)
enum Kind { Notes, Bends, Vibrato };

double cents(double hz, int key) { return 1200.0 * std::log2(hz / 440.0) - (key - 69) * 100.0; }
double seconds(const md::MidiEvent& e) { return static_cast<double>(e.timeNs) / 1e9; }

} // namespace

class TstGm : public QObject {
    Q_OBJECT

private slots:
    // In cents: each note's pitch from its key (or a drum), each whole bend held, each vibrato's
    // crest at the top of the wheel; FluidSynth ignores the messages these files send, the device
    // carries them out. Each row is named after the fault it catches.
    void heard_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QList<double>>("want");
        QTest::newRow("master fine tuning ignored, or its bytes swapped")
            << "test-sysex-7f-04-03-master-fine-tuning" << int(Notes) << QList<double>{-100, -50, 0, 50, 100};
        QTest::newRow("master coarse tuning ignored") << "test-sysex-7f-04-04-master-coarse-tuning" << int(Notes)
                                                      << QList<double>{0, 200, 400, 500, 700, 900, 1100, 1200};
        QTest::newRow("GS scale tuning ignored")
            << "test-sysex-gs-40-1x-4x-scale-tuning" << int(Notes) << QList<double>{63, -64, 63};
        QTest::newRow("GS rhythm part ignored, or set on another channel than its part's")
            << "test-sysex-gs-40-1x-15-drum-part-change" << int(Notes) << QList<double>{kDrum, kDrum, kDrum, kDrum, 0, 0, 0, 0};
        QTest::newRow("banks 120/121 not read as rhythm/melody before any reset")
            << "test-control-00-20-bank-select" << int(Notes) << QList<double>{kDrum, kDrum, kDrum, kDrum, 0, 0, 0, 0};
        QTest::newRow("bend range's cents dropped (0.64 semitone gives no bend), wide ranges cut")
            << "test-rpn-00-00-pitch-bend-range" << int(Bends)
            << QList<double>{-200, 200, -64, 64, -1200, 1200, -2400, 2400, -3600, 3600};
        QTest::newRow("modulation depth range ignored (all vibratos FluidSynth's 50 cents)")
            << "test-rpn-00-05-modulation-depth-range" << int(Vibrato) << QList<double>{50, 25, 200, 1200, 2400};
    }
    void heard()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        QFETCH(QList<double>, want);
        md::SynthDevice device(test::offline());
        QVERIFY(device.open(QStringLiteral(MELLOWDECK_TEST_DATA "/midi/%1.mid").arg(file).toStdString()) && device.play());
        const auto audio = test::render(device, device.lengthFrames());
        QList<double> heard;
        const md::MidiEvent* last = nullptr;   // the last bend, or modulation wheel
        int key = 0;
        for (const md::MidiEvent& e : device.song()->events) {
            const int type = e.status & 0xF0;
            if (type == 0x90 && e.data2 > 0 && kind == Notes) {
                const double hz = pitch(audio, seconds(e) + 0.05, seconds(e) + 0.4);
                heard << (std::abs(hz - 880.0) < 1 ? kDrum : cents(hz, e.data1));
            }
            key = type == 0x90 ? e.data1 : key;
            if (kind == Notes || type != (kind == Bends ? 0xE0 : 0xB0) || (kind == Vibrato && e.data1 != 1))
                continue;
            // A stretch where a whole bend, or the wheel at its top, stays put.
            const int bend = last ? (last->data2 << 7 | last->data1) - 8192 : 0;
            if (last && seconds(e) - seconds(*last) > 0.2 && (kind == Bends ? std::abs(bend) > 8000 : last->data2 == 127)) {
                const double hz = pitch(audio, seconds(*last) + 0.1, seconds(e), kind == Vibrato);
                heard << cents(hz, key) * (kind == Bends ? 8192.0 / std::abs(bend) : 1.0);
            }
            last = &e;
        }
        QCOMPARE(heard.size(), want.size());
        // FluidSynth tunes a voice in whole cents; a crest is read as one period's mean.
        for (qsizetype i = 0; i < want.size(); ++i)
            QVERIFY2(std::abs(heard[i] - want[i]) <= (kind == Notes ? 1.5 : std::max(4.0, std::abs(want[i]) / 10)),
                     qPrintable(QStringLiteral("#%1: %2 cents, not %3").arg(i).arg(heard[i]).arg(want[i])));
    }
};

QTEST_GUILESS_MAIN(TstGm)
#include "tst_gm.moc"
