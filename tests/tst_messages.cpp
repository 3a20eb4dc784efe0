// What MIDI messages do while they are in effect, rendered offline on the tests' SoundFont of
// pure tones, which MELLOWDECK_SOUNDFONT names as a user would name theirs: each row plays a
// piece and reads one stretch of it, for the pitch in cents from A4, the level, or silence.

#include "Support.h"

#include <QTest>

using namespace test;

namespace {

constexpr double kSilent = -1e9;   // in the cents column: nothing may sound
// 500 ticks to the quarter at 120 bpm: a tick is a millisecond.
QByteArray cc(int ch, int n, int v, quint32 delta = 0) { return ev(delta, {0xB0 | ch, n, v}); }
QByteArray rpn(int lsb, int msb, int dataLsb = -1)
{
    return cc(0, 101, 0) + cc(0, 100, lsb) + cc(0, 6, msb) + (dataLsb < 0 ? QByteArray() : cc(0, 38, dataLsb));
}
QByteArray note(int ch, int key, quint32 ms) { return noteOn(0, ch, key) + noteOff(ms, ch, key); }
const QByteArray kA4 = note(0, 69, 400), kBendUp = ev(0, {0xE0, 0x7F, 0x7F});

std::vector<float> play(const QByteArray& events)
{
    Files files;
    md::SynthDevice device(offline({}));
    if (!device.open(files.write("m.mid", smf(0, 500, {track(events, 20)})).toStdString()) || !device.play())
        qFatal("%s", device.errorMessage().c_str());
    return render(device, device.lengthFrames() + int64_t(kRate) * 2);
}

} // namespace

class TestMessages : public QObject {
    Q_OBJECT
    float m_full = 0;   // a plain A4's peak

private slots:
    void initTestCase()
    {
        qputenv("MELLOWDECK_SOUNDFONT", MELLOWDECK_TEST_SOUNDFONT);
        m_full = peak(play(kA4), 4410, 13230);
    }

    // Each row is named after the fault it catches.
    void heard_data()
    {
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<double>("cents");
        QTest::addColumn<double>("dB");   // from a plain A4; NaN: not read
        QTest::addColumn<int>("from");    // ms
        QTest::addColumn<int>("to");
        const auto row = [](const char* name, const QByteArray& events, double cents, double dB = qQNaN(), int from = 100,
                            int to = 300) { QTest::newRow(name) << events << cents << dB << from << to; };
        const double any = qQNaN();
        row("bend range ignored, or its cents dropped", rpn(0, 1, 50) + kBendUp + kA4, 150 * 8191 / 8192.0);
        row("wide bend range cut", rpn(0, 36) + ev(0, {0xE0, 0, 0}) + kA4, -3600);
        row("NRPN data taken for the bend range", rpn(0, 2) + cc(0, 99, 1) + cc(0, 98, 2) + cc(0, 6, 12) + kBendUp + kA4,
            200 * 8191 / 8192.0);
        row("fine tuning ignored, or its bytes swapped", rpn(1, 0x60, 0) + kA4, 50);
        row("coarse tuning ignored", rpn(2, 52) + kA4, -1200);
        row("reset all controllers leaves the bend", kBendUp + noteOn(0, 0, 69) + cc(0, 121, 0, 50) + noteOff(350, 0, 69), 0);
        // A triangle vibrato of 12 semitones either way averages 136 cents up over its periods.
        row("modulation depth range ignored", rpn(5, 12) + cc(0, 1, 127) + note(0, 69, 1200), 136, any, 100, 1078);
        row("master fine tuning ignored, or its bytes swapped", sysex(0, bytes({0x7F, 0x7F, 4, 3, 0, 0x60})) + kA4, 50);
        row("master coarse tuning ignored", sysex(0, bytes({0x7F, 0x7F, 4, 4, 0, 0x45})) + kA4, 500);
        row("GS scale tuning ignored, or on another pitch class", sysex(0, bytes({0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40,
            64, 64, 64, 64, 64, 64, 64, 64, 64, 94, 64, 64, 0x51})) + kA4, 30);
        // GS numbers its parts 10, 1-9, 11-16: part 1 above is channel 0, part 11 here channel 11.
        row("GS rhythm part ignored, or set on another channel",
            sysex(0, bytes({0x41, 0x10, 0x42, 0x12, 0x40, 0x1B, 0x15, 2, 0x0E})) + note(11, 40, 400), 1200);
        row("bank 120 not a kit before any reset", cc(0, 0, 120) + ev(0, {0xC0, 0}) + note(0, 40, 400), 1200);
        row("a GM reset keeps the master tuning",
            sysex(0, bytes({0x7F, 0x7F, 4, 3, 0, 0x60})) + sysex(0, bytes({0x7E, 0x7F, 9, 1})) + kA4, 0);
        row("volume not sent", cc(0, 7, 50) + kA4, 0, -12);
        row("expression not sent", cc(0, 11, 64) + kA4, 0, -11.9);
        const QByteArray sustained = cc(0, 64, 127) + note(0, 69, 100) + cc(0, 64, 0, 300);
        row("sustain ignored", sustained, 0, 0, 150, 350);
        row("sustain never lifted", sustained, kSilent, any, 450, 900);
        // A4 begun before the pedal is held by it; C#5 after it is not.
        const QByteArray sostenuto = noteOn(0, 0, 69) + cc(0, 66, 127, 10) + note(0, 73, 90) + noteOff(0, 0, 69) + cc(0, 66, 0, 300);
        row("sostenuto ignored, or holding later notes", sostenuto, 0, 0, 150, 350);
        row("sostenuto never lifted", sostenuto, kSilent, any, 450, 900);
        row("a piece ending under a pedal keeps sounding",
            noteOn(0, 0, 69) + cc(0, 64, 127) + cc(0, 66, 127) + noteOff(100, 0, 69) + cc(0, 7, 100, 200), kSilent, any, 450, 2000);
        // Bank 2: a release of a second, falling 96 dB in it.
        const QByteArray held = cc(0, 0, 2) + ev(0, {0xC0, 0}) + noteOn(0, 0, 69) + cc(0, 7, 100, 300);
        row("the end cuts notes instead of releasing them", held, 0, -11.5, 440, 470);
        row("a piece ending on a held note keeps sounding", held, kSilent, any, 1500, 2000);
        row("a kit the SoundFont lacks is silent, not the standard kit", ev(0, {0xC9, 25}) + note(9, 40, 400), 1200);
        row("a second kit ignored", ev(0, {0xC9, 8}) + note(9, 40, 400), -1200);
        row("bank variation ignored", cc(0, 0, 1) + ev(0, {0xC0, 0}) + kA4, 700);
        row("a variation the SoundFont lacks is not its capital instrument", cc(0, 0, 1) + ev(0, {0xC0, 5}) + kA4, 0, -4.8);
        row("GM mode reads bank select", sysex(0, bytes({0x7E, 0x7F, 9, 1})) + cc(0, 0, 1) + ev(0, {0xC0, 0}) + kA4, 0, 0);
        row("GM2 bank 121's LSB not the variation", cc(0, 0, 121) + cc(0, 32, 1) + ev(0, {0xC0, 0}) + kA4, 700);
        row("XG bank LSB ignored", sysex(0, bytes({0x43, 0x10, 0x4C, 0, 0, 0x7E, 0})) + cc(0, 32, 1) + ev(0, {0xC0, 0}) + kA4, 700);
        // A4 ends, and E5 begins, on the running status of a note-on that a meta event and a
        // system exclusive message came between.
        row("running status lost across meta and sysex events", ev(0, {0x90, 69, 100}) + ev(100, {0xFF, 1, 1, 'x'}) + vlq(0)
            + bytes({69, 0}) + sysex(0, bytes({0x7D})) + vlq(0) + bytes({76, 100}) + noteOff(200, 0, 76), 700, any, 150, 280);
    }

    void heard()
    {
        QFETCH(QByteArray, events);
        QFETCH(double, cents);
        QFETCH(double, dB);
        QFETCH(int, from);
        QFETCH(int, to);
        const std::vector<float> s = play(events);
        const float level = peak(s, std::size_t(from * kRate / 1000), std::size_t(to * kRate / 1000));
        if (cents == kSilent) {
            QVERIFY2(level < 1e-4f, qPrintable(QString::number(level)));
            return;
        }
        const double heard = 1200 * std::log2(pitch(s, from / 1000.0, to / 1000.0) / 440.0);
        // FluidSynth bends a little short of the wheel's range.
        QVERIFY2(std::abs(heard - cents) < 1.5 + std::abs(cents) / 100, qPrintable(QStringLiteral("%1 cents").arg(heard)));
        if (!qIsNaN(dB))
            QVERIFY2(std::abs(20 * std::log10(level / m_full) - dB) < 1, qPrintable(QStringLiteral("%1 dB").arg(20 * std::log10(level / m_full))));
    }

    // A variable naming a missing file is reported, not replaced by a SoundFont of the system's.
    void missingSoundFontNamed()
    {
        qputenv("MELLOWDECK_SOUNDFONT", "/nonexistent.sf2");
        md::SynthDevice device(offline({}));
        Files files;
        QVERIFY(!device.open(files.write("m.mid", smf(0, 500, {track(kA4)})).toStdString()));
        QVERIFY2(device.errorMessage().starts_with("cannot load the SoundFont /nonexistent.sf2"), device.errorMessage().c_str());
        QCOMPARE(device.mode(), md::Mode::NotOpen);
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
