// The PulseAudio output on a server of the test's own, whose null sink suspends after 1 s idle: after Stop
// the stream is let go, Play takes it back; a server gone is a lost output that keeps the piece, and a
// paused piece paused; once it is back, Play sounds again.
#include "Support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QtEndian>

class TestOutput : public QObject {
    Q_OBJECT
    QTemporaryDir home, runtime;   // the server wants a private runtime directory: 0700
    QProcess server, monitor;

    static QString pactl(const QStringList& args)
    {
        QProcess p;
        p.start("pactl", args);
        return p.waitForFinished(5000) && p.exitCode() == 0 ? p.readAllStandardOutput() : "";
    }
    static void end(QProcess& p) { p.kill(); p.waitForFinished(); }
    void startServer()
    {
        server.start("pulseaudio", {"--daemonize=no", "--exit-idle-time=-1", "-n", "--load=module-null-sink sink_name=cap rate=44100",
                                    "--load=module-native-protocol-unix", "--load=module-suspend-on-idle timeout=1"});
        QTRY_VERIFY(!pactl({"info"}).isEmpty());
    }
    // Whether the sink plays something loud within `ms`; a recording keeps the sink awake.
    bool heard(int ms)
    {
        monitor.start("parec", {"--raw", "--format=s16le", "--channels=1", "--latency-msec=10", "--device=cap.monitor"});
        QElapsedTimer t;
        t.start();
        bool loud = false;
        while (!loud && t.elapsed() < ms && monitor.waitForReadyRead(ms)) {
            const QByteArray data = monitor.readAll();
            for (qsizetype i = 0; i + 1 < data.size() && !loud; i += 2)
                loud = std::abs(qFromLittleEndian<qint16>(data.constData() + i)) >= 1000;
        }
        end(monitor);
        return loud;
    }

private slots:
    void releasedWhenSilentAndTakenBack()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(runtime.filePath("pulse/native")));
        qputenv("MELLOWDECK_AUDIO", "pulse");
        startServer();
        test::Files files;
        md::SynthOptions options = test::offline();
        options.realtime = true;
        md::SynthDevice device(options);
        const QString note = files.write("note.mid", test::smf(0, 441, {test::track(test::noteOn(0, 0, 69) + test::noteOff(1764, 0, 69))}));
        QVERIFY2(device.open(note.toStdString()) && device.play(), device.errorMessage().c_str());
        QVERIFY2(heard(4000), "the first Play was not heard");   // a new null sink starts late
        QVERIFY(device.stop() && device.prev());
        QTRY_COMPARE_WITH_TIMEOUT(pactl({"list", "sinks", "short"}).section('\t', 4).trimmed(), QStringLiteral("SUSPENDED"), 10000);
        QVERIFY(device.play());
        QVERIFY2(heard(1000), "Play after the stream was let go was not heard");

        end(server);
        QTRY_COMPARE_WITH_TIMEOUT(device.mode(), md::Mode::Stopped, 3000);   // where a loss is noticed
        QVERIFY(!device.outputError().empty() && device.song());   // the piece stays open
        startServer();
        QVERIFY2(device.prev() && device.play(), device.errorMessage().c_str());
        QVERIFY2(heard(4000), "Play once the server was back was not heard");
        QVERIFY(device.pause());   // lost while paused: still paused, so no loop restarts it
        end(server);
        QTRY_VERIFY_WITH_TIMEOUT(device.mode() == md::Mode::Paused && !device.outputError().empty(), 3000);
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
