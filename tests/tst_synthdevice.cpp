// The sequencer device, rendered offline: timing, end of piece, looping, silence after
// Stop/Pause/Close, repeatability after Prev, and failures that must be reported. A missing
// SoundFont and no audio output are reported through the real window in tst_hostile.

#include "MidiBuilder.h"
#include "MidiFile.h"
#include "Sequencer.h"
#include "SynthDevice.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using md::Mode;
using md::SynthDevice;

namespace {

constexpr int kBlock = 64;
constexpr double kRate = 44100.0;

md::SynthOptions offline()
{
    md::SynthOptions o;
    o.realtime = false;
    o.sampleRate = kRate;
    return o;
}

// Renders `frames` frames in 64-frame blocks; returns the mono mix.
std::vector<float> render(SynthDevice& device, int64_t frames)
{
    std::vector<float> mono;
    mono.reserve(static_cast<std::size_t>(frames));
    float l[kBlock], r[kBlock];
    for (int64_t done = 0; done < frames; done += kBlock) {
        const int n = static_cast<int>(std::min<int64_t>(kBlock, frames - done));
        device.render(l, r, n);
        for (int i = 0; i < n; ++i)
            mono.push_back(0.5f * (l[i] + r[i]));
    }
    return mono;
}

float peak(const std::vector<float>& s, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    float p = 0;
    for (std::size_t i = from; i < std::min(to, s.size()); ++i)
        p = std::max(p, std::abs(s[i]));
    return p;
}

// Frames where the sound rises out of quiet: the first frame above a quarter of
// `threshold` after at least `quiet` frames below it, provided `threshold` is reached
// within the next 512 frames.
std::vector<int64_t> onsets(const std::vector<float>& s, float threshold, int quiet = 2048)
{
    std::vector<int64_t> found;
    int64_t lastLoud = -quiet - 1;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (std::abs(s[i]) < threshold / 4)
            continue;
        if (static_cast<int64_t>(i) - lastLoud > quiet && peak(s, i, i + 512) >= threshold)
            found.push_back(static_cast<int64_t>(i));
        lastLoud = static_cast<int64_t>(i);
    }
    return found;
}

// Effects sends off, so that the output is the notes alone and runs are repeatable.
test::Track& dry(test::Track& t, int ch)
{
    return t.cc(0, ch, 91, 0).cc(0, ch, 93, 0);
}

// Closed hi-hat hits at known times across three tempos (120, 240 and 60 bpm at 96 PPQ):
// 0, 0.5, 1.0, 1.5 | 2.0, 2.25, 2.5, 2.75 | 3.0, 4.0 s; the piece ends at 5.0 s.
QByteArray tempoPiece()
{
    test::Track t;
    dry(t, 9).tempo(0, 500000);
    uint32_t wait = 0;
    auto hit = [&](uint32_t after) { t.noteOn(after, 9, 42, 127).noteOff(12, 9, 42); wait = 84; };
    for (int i = 0; i < 4; ++i)
        hit(i ? wait : 0);
    t.tempo(wait, 250000);
    for (int i = 0; i < 4; ++i)
        hit(i ? wait : 0);
    t.tempo(wait, 1000000);
    hit(0);
    hit(wait);
    t.end(wait);
    return test::smf(0, 96, {t});
}

// Reads a FIFO at roughly the pace of a 44.1 kHz stereo sound card; pause() stops
// reading so the writer stalls, resume() starts again.
class FifoReader {
public:
    explicit FifoReader(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK))   // never blocks
        , thread_([this] { run(); })
    {
    }
    ~FifoReader()
    {
        done_ = true;
        thread_.join();
        ::close(fd_);
    }
    void pause() { reading_ = false; }
    void resume() { reading_ = true; }

private:
    void run()
    {
        char buf[4096];   // 23 ms of audio
        while (!done_) {
            if (reading_ && ::read(fd_, buf, sizeof buf) < 0 && errno != EAGAIN)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    int fd_;
    std::atomic<bool> reading_{true};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

const std::vector<double> kTempoPieceOnsets{0, 0.5, 1.0, 1.5, 2.0, 2.25, 2.5, 2.75, 3.0, 4.0};

} // namespace

class TestSynthDevice : public QObject {
    Q_OBJECT

    test::TempFiles dir;

    QString write(const QString& name, const QByteArray& bytes) { return dir.write(name, bytes); }

private slots:
    void notesLandAtTheirTempoMapTimes()
    {
        SynthDevice device(offline());
        QVERIFY2(device.open(write("tempo.mid", tempoPiece()).toStdString()),
                 device.errorMessage().c_str());
        QCOMPARE(device.lengthFrames(), int64_t(5 * kRate));
        QVERIFY(device.play());
        const auto sound = render(device, int64_t(5.5 * kRate));
        const auto found = onsets(sound, 0.016f, 1024);
        QCOMPARE(found.size(), kTempoPieceOnsets.size());
        // The sample's own attack delays every onset alike; what must agree to one synth
        // block is where each lands relative to its time on the tempo map.
        std::vector<int64_t> lateness;
        for (std::size_t i = 0; i < found.size(); ++i)
            lateness.push_back(found[i] - std::llround(kTempoPieceOnsets[i] * kRate));
        const auto [lo, hi] = std::minmax_element(lateness.begin(), lateness.end());
        QVERIFY2(*lo >= 0 && *hi < 3 * kBlock, qPrintable(QString("lateness %1..%2").arg(*lo).arg(*hi)));
        QVERIFY2(*hi - *lo <= kBlock, qPrintable(QString("spread %1").arg(*hi - *lo)));
    }

    // The player makes its synthesizer only once the window is up; an open that comes
    // first has to start that itself, and the result must not differ. Nothing may be
    // looked up before then: a SoundFont named only while the device waited is the one used.
    void preparedLaterPlaysAsPreparedAtOnce_data()
    {
        QTest::addColumn<int>("prepareCalls");
        QTest::newRow("open starts it") << 0;
        QTest::newRow("prepare first") << 1;
        QTest::newRow("prepare twice") << 2;
    }

    void preparedLaterPlaysAsPreparedAtOnce()
    {
        QFETCH(int, prepareCalls);
        const std::string path = write("tempo.mid", tempoPiece()).toStdString();
        SynthDevice atOnce(offline());
        QVERIFY(atOnce.open(path));
        QVERIFY(atOnce.play());
        const auto expected = render(atOnce, int64_t(2.5 * kRate));

        md::SynthOptions o = offline();
        o.prepareLater = true;
        const QByteArray chosen = qgetenv("MELLOWDECK_SOUNDFONT");
        qputenv("MELLOWDECK_SOUNDFONT", QFile::encodeName(dir.path("not-yet.sf2")));
        SynthDevice later(o);
        QCOMPARE(later.activeVoices(), 0);   // asks nothing of a synthesizer not yet made
        if (chosen.isEmpty())
            qunsetenv("MELLOWDECK_SOUNDFONT");
        else
            qputenv("MELLOWDECK_SOUNDFONT", chosen);
        for (int i = 0; i < prepareCalls; ++i)
            later.prepare();
        QVERIFY2(later.open(path), later.errorMessage().c_str());
        QVERIFY(later.play());
        const auto sound = render(later, int64_t(2.5 * kRate));
        QVERIFY(peak(sound) > 0.01f);
        QCOMPARE(sound, expected);
    }

    void stopsByItselfAtTheEndAndNotBefore()
    {
        SynthDevice device(offline());
        QVERIFY(device.open(write("tempo.mid", tempoPiece()).toStdString()));
        QVERIFY(device.play());
        const int64_t length = device.lengthFrames();
        int64_t rendered = 0;
        float l[kBlock], r[kBlock];
        while (device.mode() == Mode::Playing && rendered < 2 * length) {
            QVERIFY(device.positionFrames() < length);
            device.render(l, r, kBlock);
            rendered += kBlock;
        }
        QCOMPARE(device.mode(), Mode::Stopped);
        QCOMPARE(device.positionFrames(), length);
        QVERIFY(rendered >= length && rendered < length + kBlock);
    }

    void loopRestartsWithinOneBlock()
    {
        SynthDevice device(offline());
        QVERIFY(device.open(write("tempo.mid", tempoPiece()).toStdString()));
        QVERIFY(device.play());
        std::vector<float> sound;
        float l[kBlock], r[kBlock];
        int plays = 1;
        int64_t restartAt = -1;
        for (int64_t done = 0; done < int64_t(10.5 * kRate); done += kBlock) {
            if (device.mode() == Mode::Stopped && plays < 2) {
                restartAt = done;
                QVERIFY(device.prev());
                QVERIFY(device.play());
                ++plays;
            }
            device.render(l, r, kBlock);
            for (int i = 0; i < kBlock; ++i)
                sound.push_back(0.5f * (l[i] + r[i]));
        }
        QVERIFY(restartAt >= device.lengthFrames());
        QVERIFY(restartAt - device.lengthFrames() < kBlock);
        const auto found = onsets(sound, 0.016f, 1024);
        QCOMPARE(found.size(), 2 * kTempoPieceOnsets.size());
        // The second pass is the first, shifted by exactly where the restart happened.
        const std::size_t n = kTempoPieceOnsets.size();
        for (std::size_t i = 0; i < n; ++i)
            QVERIFY(std::abs(found[n + i] - found[i] - restartAt) <= kBlock);
    }

    void playAfterPrevSoundsLikeTheFirstTime()
    {
        // Changes program, pitch bend, volume and sustain part-way, then plays the same
        // note again: after Prev the opening must sound as it did the first time.
        test::Track t;
        dry(t, 0).noteOn(0, 0, 60).noteOff(96, 0, 60)
            .program(96, 0, 40).bend(0, 0, 12000).cc(0, 0, 7, 30).cc(0, 0, 64, 127)
            .noteOn(0, 0, 64).noteOff(96, 0, 64).end(96);
        SynthDevice device(offline());
        QVERIFY(device.open(write("state.mid", test::smf(0, 96, {t})).toStdString()));
        const int64_t span = device.lengthFrames() + int64_t(2 * kRate);
        const int64_t aligned = (span + kBlock - 1) / kBlock * kBlock;
        QVERIFY(device.play());
        const auto first = render(device, aligned);
        QCOMPARE(device.activeVoices(), 0);
        QVERIFY(device.prev());
        QVERIFY(device.play());
        const auto second = render(device, aligned);
        QVERIFY(peak(first) > 0.01f);
        float worst = 0;
        for (std::size_t i = 0; i < first.size(); ++i)
            worst = std::max(worst, std::abs(first[i] - second[i]));
        // Within 1 % of the loudest sample: the same notes, programs, bend and volume (a
        // wrong one differs by tens of percent). FluidSynth's first voice of all starts a
        // hair differently, so the two are not bit-identical.
        QVERIFY2(worst < 1e-2f * peak(first),
                 qPrintable(QString("largest difference %1 of %2").arg(worst).arg(peak(first))));
    }

    void commandsLeaveNothingSounding_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Mode>("after");
        QTest::newRow("stop") << "stop" << Mode::Stopped;
        QTest::newRow("pause") << "pause" << Mode::Paused;
        QTest::newRow("prev") << "prev" << Mode::Stopped;
        QTest::newRow("next") << "next" << Mode::Stopped;
        QTest::newRow("close") << "close" << Mode::NotOpen;
    }

    void commandsLeaveNothingSounding()
    {
        QFETCH(QString, command);
        QFETCH(Mode, after);
        // A chord held by the sustain pedal, long past where the command comes.
        test::Track t;
        dry(t, 0).cc(0, 0, 64, 127);
        for (int key : {48, 52, 55, 60})
            t.noteOn(0, 0, key);
        for (int key : {48, 52, 55, 60})
            t.noteOff(key == 48 ? 96 : 0, 0, key);
        t.end(96 * 40);
        SynthDevice device(offline());
        QVERIFY(device.open(write("held.mid", test::smf(0, 96, {t})).toStdString()));
        QVERIFY(device.play());
        render(device, int64_t(1.0 * kRate));
        QVERIFY(device.activeVoices() > 0);
        const int64_t position = device.positionFrames();

        const std::string c = command.toStdString();
        QVERIFY(c == "stop" ? device.stop() : c == "pause" ? device.pause() : c == "prev" ? device.prev()
                : c == "next" ? device.next() : device.close());
        QCOMPARE(device.mode(), after);
        if (c == "stop" || c == "pause")
            QCOMPARE(device.positionFrames(), position);
        const auto tail = render(device, int64_t(3.0 * kRate));
        QCOMPARE(device.activeVoices(), 0);
        // The notes ring out rather than being cut, then it is silent.
        QVERIFY(peak(tail, 0, 64) > 0.001f);
        QCOMPARE(peak(tail, tail.size() - 4410), 0.0f);
    }

    void pauseResumesWhereItWas()
    {
        SynthDevice device(offline());
        QVERIFY(device.open(write("tempo.mid", tempoPiece()).toStdString()));
        QVERIFY(device.play());
        render(device, int64_t(1.2 * kRate));
        QVERIFY(device.pause());
        const int64_t at = device.positionFrames();
        render(device, int64_t(1.0 * kRate));
        QCOMPARE(device.positionFrames(), at);
        QVERIFY(device.play());
        const auto rest = render(device, int64_t(0.5 * kRate));
        // The next hit on the map is at 1.5 s, 0.3 s after the pause point.
        const auto found = onsets(rest, 0.016f, 1024);
        QVERIFY(!found.empty());
        const int64_t expected = std::llround(1.5 * kRate) - at;
        QVERIFY2(found.front() >= expected && found.front() < expected + 3 * kBlock,
                 qPrintable(QString("onset %1, expected %2").arg(found.front()).arg(expected)));
    }

    void failuresAreReportedAndLeaveNoDeviceOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text file") << "notes.mid" << QByteArray("just some text\n") << "MThd";
        QTest::newRow("missing file") << "" << QByteArray() << "no such file";
    }

    void failuresAreReportedAndLeaveNoDeviceOpen()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = name.isEmpty() ? dir.path("absent.mid") : write(name, bytes);
        SynthDevice device(offline());
        QVERIFY(device.open(write("tempo.mid", tempoPiece()).toStdString()));
        QVERIFY(device.play());
        QVERIFY(!device.open(path.toStdString()));
        QCOMPARE(device.mode(), Mode::NotOpen);
        QVERIFY2(QString::fromStdString(device.errorMessage()).contains(reason, Qt::CaseInsensitive),
                 device.errorMessage().c_str());
        QVERIFY(!device.play());
        QCOMPARE(device.mode(), Mode::NotOpen);
    }

    void lostOutputClosesTheDeviceAndOpenRetries()
    {
        // ALSA's default device writes into a FIFO read here like a sound card would,
        // until the reading stops: the output then stalls as when a device is removed.
        std::signal(SIGPIPE, SIG_IGN);
        const QString fifo = dir.path("out.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString alsaConf = write("fifo.conf", QStringLiteral(
            "pcm.!default { type plug slave { pcm \"tap\" format S16_LE rate 44100 channels 2 } }\n"
            "pcm.tap { type file slave.pcm \"null\" file \"%1\" format \"raw\" }\n"
            "pcm.null { type null }\n").arg(fifo).toUtf8());
        qputenv("ALSA_CONFIG_PATH", alsaConf.toLocal8Bit());
        qputenv("PULSE_SERVER", dir.path("no-pulse-here").toLocal8Bit());
        const QString piece = write("tempo.mid", tempoPiece());
        md::SynthOptions o = offline();
        o.realtime = true;
        o.outputStallMs = 300;

        FifoReader card(fifo);
        std::optional<SynthDevice> device(std::in_place, o);
        QVERIFY2(device->open(piece.toStdString()), device->errorMessage().c_str());
        QVERIFY(device->play());
        QTest::qWait(300);
        QCOMPARE(device->mode(), Mode::Playing);

        card.pause();
        QTRY_COMPARE_WITH_TIMEOUT(device->mode(), Mode::NotOpen, 5000);
        QVERIFY(QString::fromStdString(device->errorMessage()).contains("audio output stopped"));
        QVERIFY(!device->play());
        QVERIFY(QString::fromStdString(device->errorMessage()).contains("audio output stopped"));

        // The card comes back: the next open tries the output again and plays.
        card.resume();
        QVERIFY2(device->open(piece.toStdString()), device->errorMessage().c_str());
        QVERIFY(device->play());
        QTRY_VERIFY_WITH_TIMEOUT(device->positionFrames() > int64_t(0.2 * kRate), 5000);
        QCOMPARE(device->mode(), Mode::Playing);
        device.reset();
        qunsetenv("ALSA_CONFIG_PATH");
        qunsetenv("PULSE_SERVER");
    }

    void sequencerChasesStateBeforeTheCursor()
    {
        test::Track t;
        t.program(0, 2, 10).cc(0, 2, 7, 90).bend(0, 2, 9000).noteOn(0, 2, 60)
            .program(96, 2, 20).cc(0, 2, 7, 50).noteOff(0, 2, 60)
            .program(96, 2, 30).end(96);
        const QString path = write("chase.mid", test::smf(0, 96, {t}));
        md::LoadResult loaded = md::loadMidiFile(path.toStdString());
        QVERIFY(loaded.song);
        md::Sequencer seq;
        seq.load(std::make_shared<const md::Song>(*loaded.song), kRate);
        seq.seek(std::llround(0.75 * kRate));   // between the second and third program change
        const auto state = seq.chase();
        QCOMPARE(state.channels[2].program, int16_t(20));
        QCOMPARE(state.channels[2].cc[7], int16_t(50));
        QCOMPARE(state.channels[2].pitchBend, 9000);
        QCOMPARE(state.channels[0].program, int16_t(-1));
        seq.seek(0);
        QCOMPARE(seq.chase().channels[2].program, int16_t(-1));
    }
};

QTEST_GUILESS_MAIN(TestSynthDevice)
#include "tst_synthdevice.moc"
