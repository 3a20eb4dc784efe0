// The MIDI file loader: a public test suite's files, timing, damage repaired, input refused, non-files.

#include "MidiFile.h"
#include "Support.h"
#include "fuzz/SongInvariants.h"

#include <QDir>
#include <QTest>

#include <sys/stat.h>

using namespace test;

namespace {

constexpr qint64 kSecond = 1'000'000'000;
const QString kCorpus = QStringLiteral(MELLOWDECK_TEST_DATA "/midi/"), kFound = QStringLiteral("../../fuzz/regressions/");

md::LoadResult parse(const QByteArray& b)
{
    return md::parseMidi(std::span(reinterpret_cast<const uint8_t*>(b.constData()), std::size_t(b.size())));
}

QByteArray header(int format, int division, quint32 length = 6)
{
    return "MThd" + be32(length) + bytes({0, format, 0, 1, division >> 8, division & 0xFF});
}
const QByteArray kTempo250ms = ev(0, {0xFF, 0x51, 3, 0x03, 0xD0, 0x90});

} // namespace

class TestMidiFile : public QObject {
    Q_OBJECT

private slots:
    void corpus_data()
    {
        QTest::addColumn<QString>("file");
        for (const QString& f : QDir(kCorpus).entryList({"*.mid", "*.syx"}, QDir::Files))
            QTest::newRow(qPrintable(f)) << f;
        for (const QString& f : QDir(kCorpus + kFound).entryList(QDir::Files))
            QTest::newRow(qPrintable(f)) << kFound + f;
    }

    // Every file but those not MIDI at all loads and keeps the loader's promises; so do the fuzzer's finds.
    void corpus()
    {
        QFETCH(QString, file);
        const md::LoadResult r = md::loadMidiFile((kCorpus + file).toStdString());
        const QStringList refused{"test-empty-file.mid", "test-not-a-midi-file.mid", "test-syx-7e-06-01-id-request.syx"};
        const bool found = file.startsWith(kFound);   // held to what the fuzzer holds it to
        QVERIFY(found ? r.song || !r.error.empty() : !r.song == refused.contains(file));
        if (r.song) {
            const std::string broken = md::songInvariantViolation(*r.song, std::size_t(QFileInfo(kCorpus + file).size()));
            QVERIFY2(broken.empty(), broken.c_str());
            QVERIFY(r.song->lengthNs > 0 || file == "test-empty.mid" || found);
        }
    }

    void timing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<qint64>>("times");   // of the note events, in order
        QTest::addColumn<qint64>("lengthNs");
        const QByteArray notes = noteOn(0, 0, 60) + noteOn(96, 0, 62) + noteOn(96, 0, 64);
        // 96 ticks to the quarter at 120 bpm: 96 ticks are half a second.
        QTest::newRow("default tempo") << smf(0, 96, {track(notes)}) << QList<qint64>{0, kSecond / 2, kSecond} << kSecond;
        QTest::newRow("tempo change") << smf(0, 96, {track(noteOn(0, 0, 60) + kTempo250ms + noteOn(96, 0, 62) + noteOn(96, 0, 64))})
                                      << QList<qint64>{0, kSecond / 4, kSecond / 2} << kSecond / 2;
        // The tempo map gathered from both tracks, in time order: 250 ms at 96, then 1 s at 192.
        QTest::newRow("tempo from another track") << smf(1, 96, {track(ev(192, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40})),
                                                                 track(noteOn(0, 0, 60) + ev(96, {0xFF, 0x51, 3, 0x03, 0xD0, 0x90})
                                                                       + noteOn(0, 0, 62) + noteOn(96, 0, 64), 96)})
                                                  << QList<qint64>{0, kSecond / 2, 3 * kSecond / 4} << 7 * kSecond / 4;
        // SMPTE: 25 frames of 40 ticks is a millisecond a tick; 29.97 drop-frame is 30000/1001.
        QTest::newRow("SMPTE 25") << smf(0, 0xE728, {track(noteOn(0, 0, 60) + noteOn(1000, 0, 62))})
                                  << QList<qint64>{0, kSecond} << kSecond;
        QTest::newRow("SMPTE 29.97") << smf(0, 0xE301, {track(noteOn(0, 0, 60) + noteOn(30, 0, 62))})
                                     << QList<qint64>{0, 1001 * kSecond / 1000} << 1001 * kSecond / 1000;
        QTest::newRow("format 2 in turn") << smf(2, 96, {track(noteOn(0, 0, 60), 96), track(kTempo250ms + noteOn(96, 0, 62), 96)})
                                         << QList<qint64>{0, 3 * kSecond / 4} << kSecond;
        QTest::newRow("longest track") << smf(1, 96, {track(noteOn(0, 0, 60), 960), track(noteOn(96, 0, 62))})
                                       << QList<qint64>{0, kSecond / 2} << 5 * kSecond;
    }

    void timing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<qint64>, times);
        QFETCH(qint64, lengthNs);
        const md::LoadResult r = parse(file);
        QVERIFY2(r.song, r.error.c_str());
        QList<qint64> got;
        for (const md::MidiEvent& e : r.song->events)
            got.append(e.timeNs);
        QCOMPARE(got, times);
        QCOMPARE(qint64(r.song->lengthNs), lengthNs);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        const QByteArray one = track(noteOn(0, 0, 60));
        QTest::newRow("empty") << QByteArray() << "file is empty";
        QTest::newRow("text") << QByteArray("hello, world") << "not a MIDI file: no MThd header";
        QTest::newRow("short header") << header(0, 96, 5) + one << "bad MIDI header: length 5";
        QTest::newRow("format 3") << header(3, 96) + one << "unsupported MIDI format 3";
        QTest::newRow("division 0") << header(0, 0) + one << "bad MIDI header: division is zero";
        QTest::newRow("SMPTE 23") << header(0, 0xE928) + one << "bad MIDI header: unsupported SMPTE rate 23";
        QTest::newRow("no track") << header(0, 96) + "Junk" + be32(2) + "ab" << "no playable track";
        QTest::newRow("RIFF not RMID") << "RIFF" + bytes({4, 0, 0, 0}) + "WAVE" << "not a MIDI file: RIFF file is not RMID";
        // At 1 PPQ and the slowest tempo, 5000 ticks are 23.3 hours; 549,755,846 more, 2^63 ns: over 24 hours.
        const QByteArray slowest = ev(0, {0xFF, 0x51, 3, 0xFF, 0xFF, 0xFF}), longest = ev(0x0FFFFFFF, {0xFF, 1, 0});
        QTest::newRow("tempo map past 2^63 ns") << smf(0, 1, {track(slowest + vlq(5000) + slowest.mid(1) + longest + longest + noteOn(12'884'936, 0, 60))})
                                                << "piece is longer than 24 hours";
        QTest::newRow("over 64 MiB") << QByteArray(int(md::kMaxMidiFileBytes) + 1, 'M') << "file is larger than 64 MiB";
    }

    void refused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        const md::LoadResult r = parse(file);
        QVERIFY(!r.song);
        QCOMPARE(QString::fromStdString(r.error), error);
    }

    void repaired_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("notes");
        QTest::addColumn<QString>("warning");
        const QByteArray two = noteOn(0, 0, 60) + noteOn(96, 0, 62);
        QTest::newRow("no End of Track") << smf(0, 96, {track(two, -1)}) << 2 << "track 1: missing End of Track";
        QTest::newRow("track runs past the end") << smf(0, 96, {track(two).chopped(4)}) << 2 << "length runs past the end";
        QTest::newRow("stray data byte") << smf(0, 96, {track(vlq(0) + bytes({60}) + two)}) << 2 << "data byte without a status";
        QTest::newRow("bad data byte") << smf(0, 96, {track(ev(0, {0x90, 0x90, 1}) + two)}) << 2 << "bad data byte dropped";
        QTest::newRow("tempo of zero") << smf(0, 96, {track(ev(0, {0xFF, 0x51, 3, 0, 0, 0}) + two)}) << 2 << "tempo of zero ignored";
        QTest::newRow("garbage after the tracks") << smf(0, 96, {track(two)}) + "\x01\x02" << 2 << "trailing garbage";
        QTest::newRow("unclosed sysex") << smf(0, 96, {track(vlq(0) + bytes({0xF0, 2, 0x7E, 0x7F}) + two)}) << 2 << "without its closing F7";
    }

    void repaired()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, notes);
        QFETCH(QString, warning);
        const md::LoadResult r = parse(file);
        QVERIFY2(r.song, r.error.c_str());
        QCOMPARE(int(std::count_if(r.song->events.begin(), r.song->events.end(),
                                   [](const md::MidiEvent& e) { return e.status == 0x90; })), notes);
        QVERIFY(std::any_of(r.song->warnings.begin(), r.song->warnings.end(),
                            [&](const std::string& w) { return QString::fromStdString(w).contains(warning); }));
    }

    // Paths that are not regular files are refused at once; a FIFO must not block.
    void notFiles()
    {
        Files files;
        QVERIFY(::mkfifo(qPrintable(files.dir.filePath("fifo")), 0600) == 0);
        QVERIFY(!md::loadMidiFile(files.dir.path().toStdString()).error.empty());
        QCOMPARE(md::loadMidiFile(files.dir.filePath("fifo").toStdString()).error, std::string("not a regular file"));
    }
};

QTEST_GUILESS_MAIN(TestMidiFile)
#include "tst_midifile.moc"
