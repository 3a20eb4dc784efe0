// The audio thread and the window's thread together, for ThreadSanitizer: one thread renders
// without a pause, as the sound card's callback does, while another issues commands at random
// (open good and bad files, close, play, stop, pause, prev, next, seek) and reads the mode and
// the position, as the window does. Built only with -DMELLOWDECK_TSAN=ON.
//
//   MELLOWDECK_TSAN_COMMANDS   number of commands (default 4000)

#include "MidiBuilder.h"
#include "SynthDevice.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <random>
#include <thread>

using md::Mode;

class tst_TsanDevice : public QObject {
    Q_OBJECT

private slots:
    void renderWhileCommandsArrive()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QStringList files;
        auto add = [&](const QString& name, const QByteArray& bytes) {
            QVERIFY(test::writeFile(dir.filePath(name), bytes));
            files << dir.filePath(name);
        };
        test::Track a;
        a.cc(0, 0, 64, 127).noteOn(0, 0, 60).noteOn(0, 0, 64).program(48, 0, 20).noteOff(48, 0, 60).end(48);
        test::Track b;
        for (int i = 0; i < 16; ++i)
            b.noteOn(6, i, 50 + i).noteOff(6, i, 50 + i).tempo(0, 200000 + 10000 * i);
        b.end(0);
        add("a.mid", test::smf(0, 96, {a}));
        add("b.mid", test::smf(1, 96, {b, a}));
        add("bad.mid", "no music here");
        files << dir.filePath("missing.mid");

        // The device lives and is driven on threads of this test's own, so what the sanitizer
        // sees is ours alone, apart from QtTest's watchdog thread (see tsan.supp).
        bool ok = true;
        QString failure;
        std::atomic<long> blocks{0};
        std::atomic<bool> badSample{false};
        int count = 0;
        std::thread window([&] {
            md::SynthOptions o;
            o.realtime = false;
            if (::access("/usr/share/sounds/sf2/TimGM6mb.sf2", R_OK) == 0)
                o.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
            md::SynthDevice device(o);

            std::atomic<bool> done{false};
            std::thread audio([&] {
                float l[256], r[256];
                while (!done.load(std::memory_order_relaxed)) {
                    device.render(l, r, 256);
                    for (int i = 0; i < 256; ++i)
                        if (!std::isfinite(l[i]) || !std::isfinite(r[i]))
                            badSample = true;
                    blocks.fetch_add(1, std::memory_order_relaxed);
                }
            });

            std::mt19937 rng{7};
            bool parsed = false;
            const int commands = qEnvironmentVariableIntValue("MELLOWDECK_TSAN_COMMANDS", &parsed);
            count = parsed && commands > 0 ? commands : 4000;
            for (int i = 0; i < count && ok; ++i) {
                switch (rng() % 12) {
                case 0: device.open(files[int(rng() % uint32_t(files.size()))].toStdString()); break;
                case 1: device.close(); break;
                case 2: case 3: device.play(); break;
                case 4: device.stop(); break;
                case 5: device.pause(); break;
                case 6: device.prev(); break;
                case 7: device.next(); break;
                case 8: device.seek(int64_t(rng() % 4000) - 500); break;
                case 9: device.prev(); device.play(); break;   // the poll's restart
                default: std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000)); break;
                }
                // Each query on its own, with the audio thread given time to render between
                // them, so that an access outside the lock has no lock beside it to order it.
                auto pause = [&] { std::this_thread::sleep_for(std::chrono::microseconds(rng() % 400)); };
                const Mode m = device.mode();
                pause();
                const int64_t position = device.positionFrames();
                pause();
                const int64_t length = device.lengthFrames();
                pause();
                (void)device.positionMs();
                pause();
                (void)device.errorMessage();
                (void)device.activeVoices();
                if (m != Mode::NotOpen && m != Mode::Stopped && m != Mode::Playing && m != Mode::Paused && m != Mode::Open) {
                    ok = false;
                    failure = QString("command %1: mode %2").arg(i).arg(int(m));
                } else if (position < 0 || position > length) {
                    ok = false;
                    failure = QString("command %1: position %2 of %3").arg(i).arg(position).arg(length);
                }
            }
            done = true;
            audio.join();
        });
        window.join();
        QVERIFY2(ok, qPrintable(failure));
        QVERIFY(!badSample);
        QVERIFY(blocks > 0);
        qInfo("%d commands while %ld blocks of 256 frames were rendered", count, blocks.load());
    }
};

QTEST_GUILESS_MAIN(tst_TsanDevice)
#include "tst_tsan_device.moc"
