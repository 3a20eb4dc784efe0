// Long runs: a short piece looped many times through the real poll handler over the real
// device, rendered offline. Every restart must land on the poll tick after the end (no drift
// however many loops), the piece must sound the same each time, voices must not pile up and
// memory must stay flat.
//
//   MELLOWDECK_LOOPS   number of loops (default 300)

#include "MidiBuilder.h"
#include "WindowRig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using test::WindowRig;

namespace {

// Resident memory of this process, in KiB.
long rssKiB()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;   // freed memory sits in quarantine: RSS says nothing
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

} // namespace

class tst_LongRun : public QObject {
    Q_OBJECT

private slots:
    void loopsWithoutDrift()
    {
        bool parsed = false;
        const int requested = qEnvironmentVariableIntValue("MELLOWDECK_LOOPS", &parsed);
        const int loops = parsed && requested > 1 ? requested : 300;

        // 0.25 s: a drum hit and a held note with the sustain pedal, a program change and a
        // pitch bend part-way, so every restart has state to put back.
        test::Track t;
        t.cc(0, 0, 91, 0).cc(0, 0, 93, 0).cc(0, 9, 91, 0).cc(0, 9, 93, 0);
        t.noteOn(0, 9, 42, 127).cc(0, 0, 64, 127).noteOn(0, 0, 60, 100).noteOff(12, 9, 42)
            .program(6, 0, 30).bend(0, 0, 10000).noteOff(6, 0, 60).end(24);
        QTemporaryDir dir;
        const QString path = dir.filePath("loop.mid");
        QVERIFY(test::writeFile(path, test::smf(0, 96, {t})));

        WindowRig rig;
        rig.open(path);
        QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));
        const int64_t length = rig.device->lengthFrames();
        QCOMPARE(length, int64_t(0.25 * test::kRate));
        // The poll restarts the piece on the first tick at or after its end.
        const int64_t period = (length + test::kPollFrames - 1) / test::kPollFrames * test::kPollFrames;

        rig.chkLoopSounds->setChecked(true);
        rig.btnStart->click();   // arms the poll; the first tick starts the piece
        QVERIFY(rig.rendered % test::kPollFrames == 0);
        const int64_t origin = rig.rendered;

        std::vector<int64_t> restarts;     // frame of each Play, from the first
        std::vector<int64_t> onsets;       // first loud block after each Play
        std::vector<float> peaks;          // loudest block of each pass
        int mostVoices = 0;
        long rssBefore = -1;
        bool wasPlaying = false;
        std::array<float, test::kBlock> l{}, r{};
        while (int(restarts.size()) <= loops) {
            if (rig.rendered % test::kPollFrames == 0)
                rig.poll();
            const bool playing = rig.mm->mode() == int(md::Mode::Playing);
            if (playing && !wasPlaying) {
                QCOMPARE(rig.device->positionFrames(), 0);
                restarts.push_back(rig.rendered - origin);
                onsets.push_back(-1);
                peaks.push_back(0);
                if (restarts.size() == 20)
                    rssBefore = rssKiB();   // after warming up
            }
            wasPlaying = playing;
            rig.device->render(l.data(), r.data(), test::kBlock);
            float peak = 0;
            for (int i = 0; i < test::kBlock; ++i)
                peak = std::max({peak, std::abs(l[std::size_t(i)]), std::abs(r[std::size_t(i)])});
            QVERIFY(std::isfinite(peak));
            if (!restarts.empty()) {
                if (onsets.back() < 0 && peak > 0.02f)
                    onsets.back() = rig.rendered - origin - restarts.back();
                peaks.back() = std::max(peaks.back(), peak);
            }
            rig.rendered += test::kBlock;
            mostVoices = std::max(mostVoices, rig.device->activeVoices());
        }
        const long rssAfter = rssKiB();
        rig.btnStop->click();
        QVERIFY(rig.renderUntilSilent());
        restarts.pop_back();   // the last one only ended the run
        onsets.pop_back();
        peaks.pop_back();

        for (int k = 0; k < loops; ++k) {
            const int64_t expected = int64_t(k) * period;
            QVERIFY2(restarts[std::size_t(k)] >= expected && restarts[std::size_t(k)] < expected + test::kBlock,
                     qPrintable(QString("restart %1 at frame %2, expected %3").arg(k).arg(restarts[std::size_t(k)]).arg(expected)));
            QVERIFY2(onsets[std::size_t(k)] == onsets[0],
                     qPrintable(QString("pass %1 sounds at +%2, the first at +%3").arg(k).arg(onsets[std::size_t(k)]).arg(onsets[0])));
            // From the second pass on, each one starts over the tail of the one before.
            const float reference = peaks[k == 0 ? 0 : 1];
            QVERIFY2(std::abs(peaks[std::size_t(k)] - reference) < 0.02f * reference,
                     qPrintable(QString("pass %1 peaks at %2, expected %3").arg(k).arg(peaks[std::size_t(k)]).arg(reference)));
        }
        QVERIFY(onsets[0] >= 0);
        // Two notes, a few voices each, one pass ringing into the next.
        QVERIFY2(mostVoices <= 16, qPrintable(QString("%1 voices at once").arg(mostVoices)));
        qInfo("%d loops of %lld frames (period %lld), %.0f s of audio, at most %d voices, RSS %ld KiB after 20 loops, %ld KiB at the end",
              loops, static_cast<long long>(length), static_cast<long long>(period),
              double(rig.rendered) / test::kRate, mostVoices, rssBefore, rssAfter);
        if (!kSanitized && loops >= 100)
            QVERIFY2(rssAfter - rssBefore < 2048, qPrintable(QString("RSS grew by %1 KiB").arg(rssAfter - rssBefore)));
    }
};

QTEST_MAIN(tst_LongRun)
#include "tst_longrun.moc"
