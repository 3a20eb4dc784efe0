// The sequencer device rendered offline on the tests' own SoundFont: notes at their times, the end,
// every pass of a loop alike, nothing left sounding, presets held, failures reported.

#include "MidiFile.h"
#include "MidiState.h"
#include "Support.h"

#include <QTest>

#include <random>
#include <thread>

using namespace test;
using md::Mode;

namespace {

// 441 ticks to the quarter at 120 bpm: a tick is 50 frames.
constexpr int kTick = 50;

// Each heard alone: A4 on channel 0 (never bent), E4 on channel 1 bent a semitone up, then a chord on
// channel 0 with C4 on channel 2 and a drum; `after` comes once they have ended.
QByteArray piece(const QByteArray& after = {})
{
    return smf(0, 441, {track(noteOn(0, 0, 69) + noteOff(100, 0, 69)
                              + ev(0, {0xE1, 0, 0x60}) + noteOn(0, 1, 64) + noteOff(100, 1, 64)
                              + noteOn(0, 0, 76) + noteOn(0, 0, 81) + noteOn(0, 2, 60) + noteOn(0, 9, 40)
                              + noteOff(100, 0, 76) + noteOff(0, 0, 81) + noteOff(0, 2, 60) + noteOff(0, 9, 40)
                              + after, 20)});
}

QByteArray cc(int ch, int n, int v) { return ev(0, {0xB0 | ch, n, v}); }

// Renders until the device stops by itself; returns what it rendered.
std::vector<float> playThrough(md::SynthDevice& device)
{
    std::vector<float> out;
    while (device.mode() == Mode::Playing && out.size() < 10 * 44100) {
        const std::vector<float> block = render(device, kBlock);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

// An output that queues audio, never hears the end in time, and logs d discard, f follow.
struct Queue : md::AudioOutput {
    std::string log;
    void discard() override { log += 'd'; }
    void follow() override { log += 'f'; }
    bool holds = false;
    bool holdsAtEnd() const override { return holds; }
    std::chrono::steady_clock::time_point endHeardAt() const override { return std::chrono::steady_clock::time_point::max(); }
    std::string lost() const override { return {}; }
};

// A device playing through a Queue, with `queue` and what it pulls from set at open.
md::SynthOptions queued(Queue*& queue, md::AudioSource*& source, bool holds = false)
{
    md::SynthOptions options = offline();
    options.realtime = true;
    options.output = [&queue, &source, holds](md::AudioSource& s, std::string&) -> std::unique_ptr<md::AudioOutput> {
        source = &s;
        queue = new Queue;
        queue->holds = holds;
        return std::unique_ptr<md::AudioOutput>(queue);
    };
    return options;
}

} // namespace

class TestDevice : public QObject {
    Q_OBJECT

private slots:
    void notesAtTheirTimesAndTheEndReported()
    {
        Files files;
        // Two notes at 120 bpm, then the tempo doubles for two more.
        const QByteArray notes = noteOn(0, 0, 69) + noteOff(100, 0, 69) + noteOn(341, 0, 69) + noteOff(100, 0, 69)
            + ev(341, {0xFF, 0x51, 3, 0x03, 0xD0, 0x90}) + noteOn(0, 0, 69) + noteOff(100, 0, 69)
            + noteOn(341, 0, 69) + noteOff(100, 0, 69);
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("t.mid", smf(0, 441, {track(notes, 341)})).toStdString()) && device.play());
        const std::vector<float> s = playThrough(device);
        const int64_t length = 44100 + 882 * kTick / 2, stoppedAt = int64_t(s.size());
        QVERIFY(device.lengthFrames() == length && device.positionFrames() == length && device.mode() == Mode::Stopped);
        QVERIFY2(stoppedAt >= length && stoppedAt < length + kBlock, qPrintable(QString::number(stoppedAt)));
        for (int64_t at : {0, 22050, 44100, 44100 + 441 * kTick / 2}) {
            std::size_t onset = std::size_t(at);
            while (onset < s.size() && std::abs(s[onset]) < 1e-3f)
                ++onset;
            // FluidSynth starts notes on its 64-frame grid; then the attack rises.
            QVERIFY2(int64_t(onset) - at < kBlock + 16, qPrintable(QStringLiteral("%1 sounds at %2").arg(at).arg(onset)));
            QVERIFY(peak(s, std::size_t(std::max<int64_t>(0, at - 200)), std::size_t(at)) < 1e-6f);
        }
    }

    void passesSoundAlike_data()
    {
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("controllers") << cc(0, 7, 30) + cc(1, 11, 40) + cc(2, 10, 0) + cc(0, 1, 127);
        QTest::newRow("program") << ev(0, {0xC0, 5});
        QTest::newRow("pitch bend") << ev(0, {0xE0, 0x7F, 0x7F});
        QTest::newRow("bend range") << cc(1, 101, 0) + cc(1, 100, 0) + cc(1, 6, 7);
        QTest::newRow("sound parameter") << cc(0, 99, 120) + cc(0, 98, 48) + cc(0, 6, 70);
        QTest::newRow("mono and omni off") << cc(0, 126, 1) + cc(0, 124, 0);
        QTest::newRow("tuning standard") << sysex(0, bytes({0x7E, 0x7F, 8, 8, 3, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QTest::newRow("GS drum part") << sysex(0, bytes({0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18}));
        QTest::newRow("GS scale tuning") << sysex(0, bytes({0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QTest::newRow("master tuning") << sysex(0, bytes({0x7F, 0x7F, 4, 4, 0, 0x70}));
        QTest::newRow("XG drum bank") << sysex(0, bytes({0x43, 0x10, 0x4C, 0, 0, 0x7E, 0})) + cc(0, 0, 127) + ev(0, {0xC0, 0});
    }

    // A loop restarts with Prev and Play; what the piece set after its notes must not reach
    // the next pass, nor the next piece opened.
    void passesSoundAlike()
    {
        QFETCH(QByteArray, after);
        Files files;
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("a.mid", piece(after)).toStdString()) && device.play());
        const std::vector<float> first = playThrough(device);
        QVERIFY(device.prev() && device.play());
        const std::vector<float> second = playThrough(device);
        QVERIFY(device.open(files.write("b.mid", piece()).toStdString()) && device.play());
        const std::vector<float> reopened = playThrough(device);
        // The A4 alone: the rewind leaves unbent channels in tune.
        QVERIFY(std::abs(pitch(second, 500 / kRate, 4500 / kRate) - 440.0) < 0.5);
        // The first voices of a synthesizer start a little differently: compare past attacks.
        for (const auto* pass : {&second, &reopened}) {
            float worst = 0;
            for (std::size_t i = 300; i < 15000; ++i)
                worst = std::max(worst, std::abs((*pass)[i] - first[i]) * (i % 5000 > 300));
            QVERIFY2(worst < 1e-5f * peak(first), qPrintable(QStringLiteral("differs by %1 of %2").arg(worst).arg(peak(first))));
        }
    }

    void loopsWithoutASeam_data()
    {
        QTest::addColumn<bool>("output");
        QTest::newRow("offline") << false;
        QTest::newRow("output holding at the end") << true;
    }

    // Looped as mellowdeck-render --loop does, or through an output that holds at the end (keeping what it
    // queued for the restart alone): each pass starts on the frame after the end, released notes ring on.
    void loopsWithoutASeam()
    {
        QFETCH(bool, output);
        Files files;
        // A4 on the left for 100 ms from 0; E5 on the right (pan and a half-second release set
        // as SoundFont parameters) held to the End of Track at 66150 frames.
        const QByteArray notes = cc(0, 10, 0) + cc(1, 99, 120) + cc(1, 98, 17) + cc(1, 6, 127) + cc(1, 98, 38) + cc(1, 6, 106)
            + noteOn(0, 0, 69) + noteOff(88, 0, 69) + noteOn(500, 1, 76) + noteOff(735, 1, 76);
        md::AudioSource* source = nullptr;
        Queue* queue = nullptr;
        md::SynthDevice device(output ? queued(queue, source, true) : offline());
        QVERIFY(device.open(files.write("loop.mid", smf(0, 441, {track(notes)})).toStdString()));
        const int64_t length = device.lengthFrames();
        QCOMPARE(length, 66150);
        std::vector<float> left, right;
        for (int pass = 0; pass < 4; ++pass) {
            QVERIFY(device.prev() && device.play());
            while (device.mode() == Mode::Playing && left.size() < 5 * std::size_t(length)) {
                float l[kBlock]{}, r[kBlock]{};
                const int n = output ? (source->pull(l, r, kBlock), source->pieceEndedAt() < 0 ? kBlock : source->pieceEndedAt())
                                     : device.render(l, r, kBlock, pass < 3);
                QVERIFY(std::all_of(l + n, l + kBlock, [](float v) { return v == 0; }));   // nothing past the end
                left.insert(left.end(), l, l + n);
                right.insert(right.end(), r, r + n);
            }
        }
        for (int64_t k = 1; k < 4; ++k) {
            const auto at = std::size_t(k * length);
            const auto onset = std::find_if(left.begin() + at - 100, left.end(), [](float v) { return v > 1e-6f; }) - left.begin();
            QCOMPARE(onset, ptrdiff_t(at + 1));   // the sine's first sample is 0
            QVERIFY2(peak(right, at + 4400, at + 4500) > 0.1f * peak(right, at - 100, at), qPrintable(QString::number(k)));
        }
        if (output) {   // the first Prev and Play replace what was queued; Stop always does
            QVERIFY(device.stop() && device.prev() && device.play());
            QCOMPARE(QString::fromStdString(queue->log), "ddffffffddd");
        }
    }

    void nothingSoundsAfter_data()
    {
        QTest::addColumn<QString>("command");
        for (const char* command : {"stop", "pause", "prev", "next", "close"})
            QTest::newRow(command) << command;
    }

    // A note held by the pedals, another by its key: the command ends both.
    void nothingSoundsAfter()
    {
        QFETCH(QString, command);
        Files files;
        const QByteArray held = cc(0, 64, 127) + cc(0, 66, 127) + noteOn(0, 0, 69) + noteOn(0, 1, 72) + noteOff(2, 0, 69);
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("h.mid", smf(0, 441, {track(held, 2000)})).toStdString()) && device.play());
        QVERIFY(peak(render(device, 4410)) > 0.01f);
        QVERIFY(command == "stop" ? device.stop() : command == "pause" ? device.pause() : command == "prev" ? device.prev()
                : command == "next" ? device.next() : device.close());
        render(device, 2048);
        QCOMPARE(device.activeVoices(), 0);
        QVERIFY(peak(render(device, 4410)) < 1e-6f);   // the reverb keeps a trace against denormals
    }

    // A queueing output rewrites what was not yet heard at a command: a note begun there must not sound after
    // Stop or Pause, and Play goes on from what was heard: also when the end was rendered but not heard
    // yet, and when the next pass already follows an end that is not heard yet.
    void unheardAudioIsTakenBack()
    {
        Files files;
        // A4 heard; E5 from frame 4000, after the 3000 frames that the output replaces, to the end.
        const QByteArray notes = noteOn(0, 0, 69) + noteOff(20, 0, 69) + noteOn(60, 1, 76) + noteOff(320, 1, 76);
        const std::string file = files.write("u.mid", smf(0, 441, {track(notes)})).toStdString();
        for (int pause : {0, 1, 2, 3}) {
            md::AudioSource* source = nullptr;
            Queue* queue = nullptr;
            md::SynthDevice device(queued(queue, source));
            QVERIFY(device.open(file) && device.play());
            render(device, pause == 2 ? 20500 : 6000);
            if (pause == 3) {   // the next pass follows the end; 1000 frames of it are queued
                std::vector<float> l(20500), r(20500);
                device.render(l.data(), r.data(), 20500, true);
                QVERIFY(device.prev() && device.play());
                render(device, 1000);
            }
            QCOMPARE(device.mode(), Mode::Playing);   // the end is not heard yet
            queue->log.clear();
            QVERIFY(pause ? device.pause() : device.stop());
            QCOMPARE(QString::fromStdString(queue->log), "d");
            source->unheard(3000);
            QVERIFY(peak(render(device, 2048), 256) < 1e-4f);   // what the output writes instead
            QCOMPARE(device.mode(), pause ? Mode::Paused : Mode::Stopped);
            QCOMPARE(device.positionFrames(), pause == 3 ? device.lengthFrames() - 2000 : pause == 2 ? 17500 : 3000);
            QVERIFY(device.play());
            if (pause < 2)
                QVERIFY(peak(render(device, 2048), 1100) > 0.05f);   // E5 again, 1000 frames on
        }
    }

    // Every voice sounding and thousands of controller changes as the notes end: FluidSynth's queue of voice
    // updates would overflow and lose the note-offs unless the device spreads a burst over several blocks.
    void burstLeavesNothingSounding()
    {
        Files files;
        QByteArray notes, changes, offs;
        for (int v = 0; v < 256; ++v) {   // keys 40-55 on each channel
            notes += noteOn(0, v / 16, 40 + v % 16);
            offs += noteOff(0, v / 16, 40 + v % 16);
        }
        for (int i = 0; i < 3000; ++i)
            changes += ev(i == 0 ? 20 : 0, {0xB0 | (i % 16), 7, i % 128});
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("burst.mid", smf(0, 441, {track(notes + changes + offs, 8000)})).toStdString()) && device.play());
        render(device, 22050);
        QCOMPARE(device.activeVoices(), 0);
    }

    // NRPN 120 sums a generator's number (CC 98 = 102 adds 10,000): sums past 2^31 or round
    // to -2 (the modulation depth range beside the table) must select no generator.
    void nrpnSumSelectsNoGenerator()
    {
        const QByteArray part = ev(0, {98, 102});
        for (const QByteArray& sum : {part.repeated(214'749), part.repeated(429'496) + ev(0, {98, 101}).repeated(7)
                                                                  + ev(0, {98, 100}).repeated(2) + ev(0, {98, 94})}) {
            const QByteArray file = smf(0, 441, {track(ev(0, {0xB0, 99, 120}) + sum + ev(0, {98, 0}) + ev(0, {6, 127})
                                                       + ev(0, {98, 8}) + ev(0, {6, 32}))});   // then generator 8
            const md::LoadResult r = md::parseMidi(std::span(reinterpret_cast<const uint8_t*>(file.constData()), std::size_t(file.size())));
            md::MidiState state, powerOn;
            for (const md::MidiEvent& e : r.song->events)
                state.fold(e, *r.song, powerOn);
            const auto& set = state.channels[0].soundParameters;   // generator 8 only
            QVERIFY(state.channels[0].modDepthCents == 50 && std::count(set.begin(), set.end(), 8192) == md::kGenerators - 1 && set[8] == 32 << 7);
        }
    }

    // What the piece selects is loaded at open, so a SoundFont that went away after open changes nothing.
    void presetsHeldFromOpen()
    {
        Files files;
        QFile::copy(QStringLiteral(MELLOWDECK_TEST_SOUNDFONT), files.dir.filePath("font.sf2"));
        md::SynthDevice device(offline(files.dir.filePath("font.sf2").toStdString()));
        const QByteArray notes = sysex(0, bytes({0x7E, 0x7F, 9, 1})) + ev(0, {0xC0, 5}) + noteOn(0, 0, 69)
            + noteOff(100, 0, 69) + ev(0, {0xC0, 9}) + noteOn(0, 0, 69) + noteOff(100, 0, 69);
        QVERIFY(device.open(files.write("p.mid", smf(0, 441, {track(notes, 10)})).toStdString()));
        QVERIFY(QFile::resize(files.dir.filePath("font.sf2"), 0));
        for (int pass = 0; pass < 2; ++pass) {
            QVERIFY(device.prev() && device.play());
            const std::vector<float> s = playThrough(device);
            QVERIFY(peak(s, 1000, 4000) > 0.01f && peak(s, 6000, 9000) > 0.01f);
        }
    }

    // No output: Open says why and leaves nothing open (tst_messages: no SoundFont).
    void failuresAreReported()
    {
        Files files;
        md::SynthOptions options = offline();
        options.realtime = true;
        options.output = [](md::AudioSource&, std::string& error) -> std::unique_ptr<md::AudioOutput> {
            return error = "no sound server", nullptr;
        };
        md::SynthDevice noOutput(options);
        QVERIFY(!noOutput.open(files.write("f.mid", piece()).toStdString()) && noOutput.errorMessage() == "no sound server");
        QVERIFY(noOutput.mode() == Mode::NotOpen && !noOutput.play());
    }

    // Commands from one thread while another renders; ThreadSanitizer runs this case.
    void threads()
    {
        Files files;
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("t.mid", piece()).toStdString()));
        std::jthread audio([&](std::stop_token played) { while (!played.stop_requested()) render(device, 256); });
        std::mt19937 random(7);
        for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::microseconds(200))) {
            const unsigned r = random() % 6;
            QVERIFY(r == 0 ? device.play() : r == 1 ? device.stop() : r == 2 ? device.prev() : r == 3 ? device.pause()
                    : r == 4 ? device.seek(random() % 1000) : device.positionFrames() <= device.lengthFrames());
        }
        device.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        audio.request_stop();
        audio.join();
        QCOMPARE(device.activeVoices(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
