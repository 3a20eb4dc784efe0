// The PulseAudio output on a server of the test's own (a null sink, suspended after 1 s idle):
// after Stop and the release the output lets the stream go, so the sink suspends; Play takes
// it back and sounds. A server that goes away is a lost output; once back, Play sounds again.
#include "SynthDevice.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstdlib>

class TestOutput : public QObject {
    Q_OBJECT
    QTemporaryDir dir, runtime;   // the server wants a private runtime directory: 0700
    QProcess server, monitor;

    static QString pactl(const QStringList& args)   // its output, or "" when it fails
    {
        QProcess p;
        p.start("pactl", args);
        return p.waitForFinished(5000) && p.exitCode() == 0 ? p.readAllStandardOutput() : "";
    }
    static void end(QProcess& p) { p.kill(); p.waitForFinished(); }
    // Starts the server and records its sink (which then cannot suspend); true once both answer.
    bool startServer()
    {
        server.start("pulseaudio", {"--daemonize=no", "--exit-idle-time=-1", "-n",
            "--load=module-null-sink sink_name=cap rate=44100", "--load=module-native-protocol-unix",
            "--load=module-suspend-on-idle timeout=1"});
        for (int i = 0; i < 50 && pactl({"info"}).isEmpty(); ++i)
            QTest::qWait(100);
        return !pactl({"info"}).isEmpty() && record();
    }
    bool record()
    {
        monitor.start("parec", {"--raw", "--format=s16le", "--channels=1", "--latency-msec=10",
                                "--device=cap.monitor"});
        return monitor.waitForStarted();
    }
    // Whether the sink plays something loud within `ms`.
    bool heard(int ms)
    {
        monitor.readAll();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && monitor.waitForReadyRead(ms)) {
            const QByteArray data = monitor.readAll();
            for (qsizetype i = 0; i + 1 < data.size(); i += 2)
                if (std::abs(qFromLittleEndian<qint16>(data.constData() + i)) >= 1000)
                    return true;
        }
        return false;
    }

private slots:
    void cleanup() { end(monitor); end(server); }

    void releasedWhenSilentAndTakenBack()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("HOME", QFile::encodeName(dir.path()));
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(runtime.filePath("pulse/native")));
        qputenv("MELLOWDECK_AUDIO", "pulse");
        QVERIFY2(startServer(), "pulseaudio and parec (pulseaudio-utils) are needed");
        QFile midi(dir.filePath("note.mid"));   // one piano note of 2 s
        QVERIFY(midi.open(QIODevice::WriteOnly));
        midi.write(QByteArray::fromHex("4d546864000000060000000101e04d54726b00000010"
                                       "00c000009048648f0080480000ff2f00"));
        midi.close();
        md::SynthOptions options;
        options.soundFont = MELLOWDECK_TEST_SOUNDFONT;
        md::SynthDevice device(options);
        QVERIFY2(device.open(midi.fileName().toStdString()), device.errorMessage().c_str());
        QVERIFY(device.play());
        QVERIFY2(heard(4000), "the first Play was not heard");   // a new null sink starts late

        QVERIFY(device.stop() && device.prev());
        end(monitor);
        QTRY_COMPARE_WITH_TIMEOUT(pactl({"list", "sinks", "short"}).section('\t', 4).trimmed(),
                                  QStringLiteral("SUSPENDED"), 10000);
        QVERIFY(record() && device.play());
        QVERIFY2(heard(1000), "Play after the stream was let go was not heard");

        cleanup();
        QTRY_COMPARE_WITH_TIMEOUT(device.mode(), md::Mode::Stopped, 3000);
        QVERIFY(!device.outputError().empty());
        QVERIFY(startServer());
        QTest::qWait(1000);   // a lost output is tried again at most once a second
        QVERIFY2(device.prev() && device.play(), device.errorMessage().c_str());
        QVERIFY2(heard(4000), "Play once the server was back was not heard");
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
