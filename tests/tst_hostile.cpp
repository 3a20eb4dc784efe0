// Hostile files and hostile paths, opened the way the user opens them: File > Open on the
// real window over the real FluidSynth device (rendered offline), the dialog answered by
// the test. Each one either plays sensibly or is refused with a specific reason, and the
// player goes on working: a good file opens and plays afterwards.

#include "MidiBuilder.h"
#include "MidiFile.h"
#include "WindowRig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using test::WindowRig;

namespace {

void put16(QByteArray& out, int v)
{
    out.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
}

// A header whose fields are written as given, however absurd.
QByteArray header(int format, int tracks, int division)
{
    QByteArray out("MThd");
    test::put32(out, 6);
    put16(out, format);
    put16(out, tracks);
    put16(out, division);
    return out;
}

QByteArray chunk(const QByteArray& body, uint32_t declared)
{
    QByteArray out("MTrk");
    test::put32(out, declared);
    return out + body;
}

QByteArray chunk(const test::Track& t)
{
    const auto& b = t.bytes();
    return chunk(QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())), uint32_t(b.size()));
}

// One short note and the end a second later: what every "does it still work" step opens.
QByteArray goodPiece()
{
    test::Track t;
    t.noteOn(0, 0, 60).noteOff(48, 0, 60).end(48);
    return test::smf(0, 96, {t});
}

// A track of `count` note-ons under one running status, no End of Track: the loader must
// not read past it, and the device must play what it got.
QByteArray runningStatus(int count, int delta)
{
    QByteArray body;
    body.append(char(0)).append(char(0x90)).append(char(60)).append(char(100));
    for (int i = 1; i < count; ++i)
        body.append(char(delta)).append(char(36 + i % 60)).append(char(i % 2 ? 0 : 100));
    return header(0, 1, 96) + chunk(body, uint32_t(body.size()));
}

QByteArray tempoPiece(uint32_t usPerQuarter, uint16_t division, uint32_t endTicks)
{
    test::Track t;
    t.tempo(0, usPerQuarter).noteOn(0, 0, 60).noteOff(endTicks, 0, 60).end(0);
    return test::smf(0, division, {t});
}

bool stillPlaysAGoodFile(WindowRig& rig, const QString& path)
{
    rig.open(path);
    if (rig.mm->mode() != int(md::Mode::Stopped) || rig.lblFileName->toolTip() != path)
        return false;
    rig.chkLoopSounds->setChecked(false);
    rig.btnStart->click();
    const float peak = rig.play(int64_t(0.4 * test::kRate));
    rig.btnStop->click();
    return peak > 0.001f && rig.renderUntilSilent();
}

} // namespace

class tst_Hostile : public QObject {
    Q_OBJECT

    test::TempFiles dir;
    QString goodPath;

    QString write(const QString& name, const QByteArray& bytes) { return dir.write(name, bytes); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        goodPath = write("good.mid", goodPiece());
    }

    void files_data();
    void files();
    void zeroLengthPieceLoopsWithoutPilingUpVoices();
    void burstOfNotesRestartedLeavesNothingSounding();
    void paths_data();
    void paths();
    void unreadableFile();
    void fileChangesWhileTheDialogIsOpen_data();
    void fileChangesWhileTheDialogIsOpen();
    void noAudioOutput();
    void noSoundFont();
};

// Each file either plays (for `plays` > 0: render that many seconds, with Start and the
// poll as the user would) or is refused with exactly `error`. Refusals the loader alone
// decides are listed in tst_midifile; the one here is the file-system check.
void tst_Hostile::files_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("sparseSize");   // > 0: the file is grown to this size, sparse
    QTest::addColumn<QString>("error");
    QTest::addColumn<qint64>("lengthMs");     // -1: not checked
    QTest::addColumn<double>("plays");

    const QByteArray small = goodPiece();
    const qint64 mib64 = qint64(md::kMaxMidiFileBytes);
    QTest::newRow("over 64 MiB") << small << mib64 + 1 << "file is larger than 64 MiB" << -1LL << 0.0;
    QTest::newRow("exactly 64 MiB, mostly padding") << small << mib64 << "" << 500LL << 0.5;

    test::Track note;
    note.noteOn(0, 0, 60).noteOff(96, 0, 60).end(0);
    QTest::newRow("65535 tracks declared, one present") << header(1, 65535, 96) + chunk(note) << 0LL << "" << 500LL << 0.6;
    QByteArray manyTracks = header(1, 65535, 96);
    for (int i = 0; i < 20000; ++i)
        manyTracks += chunk(QByteArray(), 0);
    manyTracks += chunk(note);
    QTest::newRow("20001 track chunks") << manyTracks << 0LL << "" << 500LL << 0.6;
    QTest::newRow("track length 4 GiB") << header(0, 1, 96) + chunk(QByteArray(reinterpret_cast<const char*>(note.bytes().data()), qsizetype(note.bytes().size())), 0xFFFFFFFFu)
                                        << 0LL << "" << 500LL << 0.6;

    // 300000 note-ons at one instant, then 200000 spread over 17 minutes.
    QTest::newRow("endless running status, one instant") << runningStatus(300000, 0) << 0LL << "" << 0LL << 0.3;
    QTest::newRow("endless running status, spread out") << runningStatus(200000, 1) << 0LL << "" << -1LL << 1.0;

    // 16.78 s a quarter note: one quarter lasts that long.
    QTest::newRow("slowest tempo") << tempoPiece(0xFFFFFF, 96, 96) << 0LL << "" << 16777LL << 0.5;
    // 1 µs a quarter note: 2000 notes pass within a millisecond.
    test::Track fast;
    fast.tempo(0, 1);
    for (int i = 0; i < 1000; ++i)
        fast.noteOn(1, 0, 40 + i % 40).noteOff(1, 0, 40 + i % 40);
    fast.end(0);
    QTest::newRow("fastest tempo") << test::smf(0, 96, {fast}) << 0LL << "" << 0LL << 0.3;

    test::Track empty;
    empty.end(0);
    QTest::newRow("zero-length, silent") << test::smf(0, 96, {empty}) << 0LL << "" << 0LL << 0.3;
    QTest::newRow("empty track chunk") << header(0, 1, 96) + chunk(QByteArray(), 0) << 0LL << "" << 0LL << 0.3;

    // The longest piece the loader takes (23.3 hours; 24.2 is refused, see tst_midifile) and
    // the largest PPQ both play.
    QTest::newRow("23.3 hours") << tempoPiece(0xFFFFFF, 1, 5000) << 0LL << "" << 83886075LL << 0.5;
    QTest::newRow("division 32767") << tempoPiece(500000, 0x7FFF, 0x7FFF * 2) << 0LL << "" << 1000LL << 0.5;
}

void tst_Hostile::files()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, sparseSize);
    QFETCH(QString, error);
    QFETCH(qint64, lengthMs);
    QFETCH(double, plays);

    const QString path = write("hostile.mid", bytes);
    if (sparseSize > 0)
        QVERIFY(QFile::resize(path, sparseSize));

    WindowRig rig;
    QVERIFY(rig.complete());
    QElapsedTimer clock;
    clock.start();
    rig.open(path);
    if (!error.isEmpty()) {
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
        QCOMPARE(rig.lblFileName->toolTip(), error);
        QVERIFY(rig.lblFileName->text().startsWith("[cannot open] "));
    } else {
        QVERIFY2(rig.mm->mode() == int(md::Mode::Stopped), qPrintable(rig.lblFileName->toolTip()));
        QCOMPARE(rig.lblFileName->toolTip(), path);
        if (lengthMs >= 0)
            QCOMPARE(rig.device->lengthMs(), lengthMs);

        // Start, then let it play once with the poll firing.
        rig.chkLoopSounds->setChecked(false);
        rig.btnStart->click();
        int mostVoices = 0;
        const int64_t frames = int64_t(plays * test::kRate) / test::kBlock * test::kBlock;
        for (int64_t done = 0; done < frames; done += 16 * test::kBlock) {
            rig.play(16 * test::kBlock);
            QVERIFY(test::validMode(rig.mm->mode()));
            QVERIFY(rig.device->positionFrames() >= 0 && rig.device->positionFrames() <= rig.device->lengthFrames());
            mostVoices = std::max(mostVoices, rig.device->activeVoices());
        }
        QVERIFY(!rig.nonFinite);
        rig.btnStop->click();
        QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));
        QCOMPARE(rig.device->positionFrames(), 0);
        QVERIFY2(rig.renderUntilSilent(), "a voice still sounds long after Stop");
        qInfo("%s: %d voices at most, %lld ms", QTest::currentDataTag(), mostVoices, clock.elapsed());
    }
    // However hostile, a file costs seconds at most, not minutes.
    QVERIFY2(clock.elapsed() < 60000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(stillPlaysAGoodFile(rig, goodPath));
}

// A piece that ends where it begins, looped: each poll restarts it and its notes start and
// are released at once; voices must not pile up.
void tst_Hostile::zeroLengthPieceLoopsWithoutPilingUpVoices()
{
    test::Track t;
    for (int key : {48, 52, 55, 60})
        t.noteOn(0, 0, key);
    t.end(0);
    WindowRig rig;
    rig.open(write("instant.mid", test::smf(0, 96, {t})));
    QCOMPARE(rig.device->lengthFrames(), 0);
    rig.chkLoopSounds->setChecked(true);
    rig.btnStart->click();
    int mostVoices = 0;
    for (int i = 0; i < 200; ++i) {   // 200 polls: 11 s
        rig.play(test::kPollFrames);
        mostVoices = std::max(mostVoices, rig.device->activeVoices());
    }
    // Each restart sounds four notes (a few voices each) that then ring out for a while.
    QVERIFY2(mostVoices > 0 && mostVoices < 256, qPrintable(QString::number(mostVoices)));
    rig.btnStop->click();
    QVERIFY(rig.renderUntilSilent());
    QVERIFY(!rig.nonFinite);
}

// Hundreds of notes at one instant, restarted while they still sound (as Loop Sounds or a
// second Start does): after Stop and the release time nothing may still sound.
void tst_Hostile::burstOfNotesRestartedLeavesNothingSounding()
{
    test::Track t;
    for (int i = 0; i < 300; ++i)
        t.noteOn(0, 0, 40 + i % 40).noteOff(0, 0, 40 + i % 40);
    t.end(96);
    WindowRig rig;
    rig.open(write("burst.mid", test::smf(0, 96, {t})));
    rig.chkLoopSounds->setChecked(false);
    rig.btnStart->click();
    rig.play(test::kPollFrames * 2);
    rig.btnStart->click();   // again, while the burst still rings
    rig.play(test::kPollFrames * 2);
    rig.btnStop->click();
    QVERIFY2(rig.renderUntilSilent(), qPrintable(QString("%1 voices after Stop and 12 s").arg(rig.device->activeVoices())));
}

void tst_Hostile::paths_data()
{
    QTest::addColumn<QString>("name");     // created as a valid MIDI file unless `kind` says
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");    // empty: must open

    QTest::newRow("directory") << "folder.mid" << "dir" << "is a directory";
    QTest::newRow("missing") << "gone.mid" << "missing" << "no such file or directory";
    QTest::newRow("FIFO") << "pipe.mid" << "fifo" << "not a regular file";
    QTest::newRow("/dev/zero") << "/dev/zero" << "absolute" << "not a regular file";
    QTest::newRow("dangling link") << "dangling.mid" << "dangling" << "no such file or directory";
    QTest::newRow("link loop") << "loop.mid" << "loop" << "too many levels of symbolic links";
    QTest::newRow("not a folder on the way") << "good.mid/x.mid" << "absoluteInDir" << "not a directory";
    QTest::newRow("empty name") << "" << "absolute" << "no such file or directory";
    QTest::newRow("name too long") << QString(300, 'a') + ".mid" << "missing" << "file name too long";

    QTest::newRow("spaces") << "my  song .mid" << "file" << "";
    QTest::newRow("quotes") << "it's \"the\" song.mid" << "file" << "";
    QTest::newRow("newline") << "two\nlines.mid" << "file" << "";
    QTest::newRow("shell") << "$(touch pwned); `touch pwned` | & ; * ? < > ~ !x.mid" << "file" << "";
    QTest::newRow("leading dash") << "-rf .mid" << "file" << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("chanson é ü 日本 🎵.MID") << "file" << "";
    QTest::newRow("no extension") << "song" << "file" << "";
    QTest::newRow("symlink to a good file") << "link.mid" << "link" << "";
}

void tst_Hostile::paths()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, error);

    QTemporaryDir here;
    QVERIFY(here.isValid());
    QString path = here.filePath(name);
    const QByteArray raw = QFile::encodeName(path);
    if (kind == "file") {
        QVERIFY(test::writeFile(path, goodPiece()));
    } else if (kind == "dir") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(raw.constData(), 0600) == 0);
    } else if (kind == "absolute") {
        path = name;
    } else if (kind == "absoluteInDir") {
        path = dir.path(name);
    } else if (kind == "dangling") {
        QVERIFY(::symlink("nowhere.mid", raw.constData()) == 0);
    } else if (kind == "loop") {
        QVERIFY(::symlink(raw.constData(), raw.constData()) == 0);
    } else if (kind == "link") {
        QVERIFY(::symlink(QFile::encodeName(goodPath).constData(), raw.constData()) == 0);
    }

    WindowRig rig;
    QElapsedTimer clock;
    clock.start();
    rig.open(path);
    QVERIFY2(clock.elapsed() < 10000, "opening blocked");
    if (error.isEmpty()) {
        QVERIFY2(rig.mm->mode() == int(md::Mode::Stopped), qPrintable(rig.lblFileName->toolTip()));
        QCOMPARE(rig.lblFileName->toolTip(), path);
        QCOMPARE(rig.mm->fileName(), path);
        rig.btnStart->click();
        QVERIFY(rig.play(int64_t(0.3 * test::kRate)) > 0.001f);
        rig.btnStop->click();
        QVERIFY(rig.renderUntilSilent());
    } else {
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
        QCOMPARE(rig.lblFileName->toolTip(), error);
        QVERIFY(rig.lblFileName->text().startsWith("[cannot open] "));
        // Start and Stop stay harmless.
        rig.btnStart->click();
        rig.play(test::kPollFrames * 2);
        rig.btnStop->click();
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
    }
    // Nothing went through a shell.
    QVERIFY(!QFile::exists(here.filePath("pwned")));
    QVERIFY(!QFile::exists(QDir::current().filePath("pwned")));
    QVERIFY(stillPlaysAGoodFile(rig, goodPath));
}

// The loader runs as a user the file does not let in. As root, the file-system identity of
// this thread is switched to "nobody" for the open, which drops root's right to read anything.
void tst_Hostile::unreadableFile()
{
    QTemporaryDir here;
    QVERIFY(::chmod(QFile::encodeName(here.path()).constData(), 0755) == 0);
    const QString path = here.filePath("locked.mid");
    QVERIFY(test::writeFile(path, goodPiece()));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0200) == 0);

    WindowRig rig;
    rig.dialog->setFileName(path);   // the dialog starts in a folder "nobody" may read
    const bool root = ::geteuid() == 0;
    if (root)
        ::setfsuid(65534);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        rig.open(path);
    if (root)
        ::setfsuid(0);
    if (fd >= 0) {
        ::close(fd);
        QSKIP("the file system lets this test read a file of mode 0200 (root's rights cannot be dropped here)");
    }

    QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
    QCOMPARE(rig.lblFileName->text().left(14), QStringLiteral("[cannot open] "));
    QCOMPARE(rig.lblFileName->toolTip(), QStringLiteral("permission denied"));
    QVERIFY(stillPlaysAGoodFile(rig, goodPath));
}

// Between the user's choice and the open, someone else changes the file.
void tst_Hostile::fileChangesWhileTheDialogIsOpen_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("error");
    QTest::newRow("deleted") << "delete" << "no such file or directory";
    QTest::newRow("replaced by a FIFO") << "fifo" << "not a regular file";
    QTest::newRow("replaced by another piece") << "other" << "";
}

void tst_Hostile::fileChangesWhileTheDialogIsOpen()
{
    QFETCH(QString, change);
    QFETCH(QString, error);
    QTemporaryDir here;
    const QString path = here.filePath("song.mid");
    QVERIFY(test::writeFile(path, goodPiece()));
    const QByteArray raw = QFile::encodeName(path);

    WindowRig rig;
    // The old piece plays on while the dialog is open, as it would.
    rig.open(goodPath);
    rig.chkLoopSounds->setChecked(true);
    rig.btnStart->click();
    rig.play(test::kPollFrames * 4);
    bool changed = false;
    rig.whileDialogOpen = [&] {
        rig.play(test::kPollFrames * 2);
        QFile::remove(path);
        if (change == "fifo")
            changed = ::mkfifo(raw.constData(), 0600) == 0;
        else if (change == "other")
            changed = test::writeFile(path, tempoPiece(500000, 96, 96 * 6));
        else
            changed = true;
    };
    QElapsedTimer clock;
    clock.start();
    rig.open(path);
    QVERIFY(changed);
    QVERIFY2(clock.elapsed() < 10000, "opening blocked");
    if (error.isEmpty()) {
        QCOMPARE(rig.mm->mode(), int(md::Mode::Stopped));
        QCOMPARE(rig.device->lengthMs(), 3000);   // the new content, not the one chosen
    } else {
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
        QCOMPARE(rig.lblFileName->toolTip(), error);
        QCOMPARE(rig.lblFileName->text().left(14), QStringLiteral("[cannot open] "));
    }
    // The old piece stopped with the open.
    QVERIFY(rig.renderUntilSilent());
    QVERIFY(stillPlaysAGoodFile(rig, goodPath));
}

// No sound server and an ALSA default that names a missing card: the window says so and
// goes on working; a later open tries the output again.
void tst_Hostile::noAudioOutput()
{
    QTemporaryDir here;
    const QString conf = here.filePath("asound.conf");
    QVERIFY(test::writeFile(conf, "pcm.!default { type hw card 97 }\nctl.!default { type hw card 97 }\n"));
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf));
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + here.filePath("no-pulse-here")));
    md::SynthOptions o = test::offlineOptions();
    o.realtime = true;
    {
        WindowRig rig(o);
        QElapsedTimer clock;
        clock.start();
        rig.open(goodPath);
        QVERIFY2(clock.elapsed() < 10000, "looking for an output blocked");
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
        QCOMPARE(rig.lblFileName->text().left(14), QStringLiteral("[cannot open] "));
        QVERIFY2(rig.lblFileName->toolTip().contains("no audio output device could be opened"),
                 qPrintable(rig.lblFileName->toolTip()));
        // The window still answers: its buttons and the poll do no harm, and it closes.
        rig.btnStart->click();
        rig.poll();
        rig.btnStop->click();
        QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
        rig.open(std::nullopt);
        rig.open(goodPath);   // tried again, fails the same way
        QVERIFY(rig.lblFileName->toolTip().contains("no audio output device could be opened"));
        QVERIFY(rig.window->close());
    }
    qunsetenv("ALSA_CONFIG_PATH");
    qunsetenv("PULSE_SERVER");
}

void tst_Hostile::noSoundFont()
{
    QTemporaryDir here;
    qputenv("MELLOWDECK_SOUNDFONT", QFile::encodeName(here.filePath("missing.sf2")));
    md::SynthOptions o = test::offlineOptions();
    o.soundFont.clear();   // as the program does: the variable decides
    WindowRig rig(o);
    rig.open(goodPath);
    qunsetenv("MELLOWDECK_SOUNDFONT");
    QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
    QCOMPARE(rig.lblFileName->text().left(14), QStringLiteral("[cannot open] "));
    const QString why = rig.lblFileName->toolTip();
    QVERIFY2(why.contains("missing.sf2") && why.contains("timgm6mb-soundfont") &&
             why.contains("fluid-soundfont-gm"), qPrintable(why));
    rig.btnStart->click();
    rig.play(test::kPollFrames * 2);
    QCOMPARE(rig.mm->mode(), int(md::Mode::NotOpen));
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
