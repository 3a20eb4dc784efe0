// Tests of the MIDI file loader: the public test-midi-files suite (tests/data/midi), damaged
// and hostile inputs built byte by byte, and hand-computed tempo-map timing. File-system
// edge cases (missing file, folder, FIFO, device node, unreadable, over 64 MiB) are opened
// through the window in tst_hostile.

#include "MidiFile.h"
#include "fuzz/SongInvariants.h"

#include <QDir>
#include <QFile>
#include <QTest>

using md::LoadResult;
using md::Song;

namespace {

const QString kData = QStringLiteral(MELLOWDECK_TEST_DATA);

// --- byte builders for hand-made files -----------------------------------------------------

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

QByteArray be32(quint32 v) { return bytes({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)}); }
QByteArray le32(quint32 v) { return bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); }

QByteArray vlq(quint32 v)
{
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7)
        out.prepend(char(0x80 | (v & 0x7F)));
    return out;
}

QByteArray header(int format, int tracks, int division, quint32 length = 6)
{
    return "MThd" + be32(length) + bytes({format >> 8, format & 0xFF, tracks >> 8, tracks & 0xFF,
                                          division >> 8, division & 0xFF});
}

const QByteArray kEot = bytes({0x00, 0xFF, 0x2F, 0x00});

QByteArray track(const QByteArray& events) { return "MTrk" + be32(quint32(events.size())) + events; }

QByteArray tempo(quint32 delta, quint32 us)
{
    return vlq(delta) + bytes({0xFF, 0x51, 0x03, int(us >> 16), int(us >> 8 & 0xFF), int(us & 0xFF)});
}

QByteArray noteOn(quint32 delta, int key = 60) { return vlq(delta) + bytes({0x90, key, 100}); }

QByteArray riffChunk(const char* id, const QByteArray& body)
{
    QByteArray out = QByteArray(id, 4) + le32(quint32(body.size())) + body;
    if (body.size() % 2)
        out.append('\0');
    return out;
}

QByteArray rmid(const QByteArray& smf, const QByteArray& before = {})
{
    const QByteArray body = "RMID" + before + riffChunk("data", smf);
    return "RIFF" + le32(quint32(body.size())) + body;
}

LoadResult parse(const QByteArray& b)
{
    return md::parseMidi(std::span(reinterpret_cast<const uint8_t*>(b.constData()), std::size_t(b.size())));
}

QList<qint64> times(const Song& s)
{
    QList<qint64> out;
    for (const md::MidiEvent& e : s.events)
        out.append(e.timeNs);
    return out;
}

QString joined(const Song& s)
{
    QStringList l;
    for (const std::string& w : s.warnings)
        l.append(QString::fromStdString(w));
    return l.join(QLatin1String(" | "));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

constexpr qint64 kSecond = 1'000'000'000;

} // namespace

class TestMidiFile : public QObject {
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
    void corpusIsFullyListed();
    void corpusDetails();
    void refused_data();
    void refused();
    void oversizedBuffer();
    void repaired_data();
    void repaired();
    void timing_data();
    void timing();
    void fileOrderAtEqualTimes();
    void sysex_data();
    void sysex();
    void rmidMatchesPlainFile();
    void regressions();
};

// Every corpus file, with what its generator (code/NAME.js) says a player must do.
// -1 means "not checked" for counts; an empty warning means "no warning allowed".
struct CorpusRow {
    const char* name;
    const char* error; // "" when the file must load
    int format = 0, tracks = 0, events = -1, sysex = -1;
    qint64 lengthNs = -1;
    const char* warning = "";
};

static std::vector<CorpusRow> corpusRows()
{
    // 96 ticks per quarter at the default 120 BPM: 96 ticks = 0.5 s.
    const qint64 scale = 8 * kSecond / 2; // eight notes of 96 ticks
    std::vector<CorpusRow> rows = {
        {"test-c-major-scale.mid", "", 0, 1, 16, 0, scale},
        {"test-2-tracks-type-0.mid", "", 0, 2, 32, 0, 9 * kSecond / 2, "format 0 file with several tracks"},
        {"test-2-tracks-type-1.mid", "", 1, 2, 32, 0, 9 * kSecond / 2},
        {"test-2-tracks-type-2.mid", "", 2, 2, 32, 0, 9 * kSecond},
        {"test-corrupt-file-extra-byte.mid", "", 0, 1, 16, 0, scale, "ignored trailing garbage (1 bytes)"},
        {"test-corrupt-file-missing-byte.mid", "", 0, 1, 16, 0, scale, "track 1: End of Track cut short"},
        {"test-empty.mid", "", 0, 1, 0, 0, 0},
        {"test-empty-file.mid", "file is empty"},
        {"test-not-a-midi-file.mid", "not a MIDI file: no MThd header"},
        {"test-syx-7e-06-01-id-request.syx", "not a MIDI file: no MThd header"},
        {"test-karaoke-kar.mid", "", 1, 3, 59, 0, 1590LL * 666667 * 1000 / 100}, // 90 BPM, 100 PPQ
        {"test-multichannel-chords-0.mid", "", 0, 1, 48, 0, scale},
        {"test-multichannel-chords-1.mid", "", 1, 3, 48, 0, scale},
        {"test-multichannel-chords-2.mid", "", 1, 2, 48, 0, scale},
        {"test-multichannel-chords-3.mid", "", 1, 3, 48, 0, scale},
        {"test-non-midi-track.mid", "", 0, 1, 16, 0, scale, "skipped unknown chunk 'Junk'"},
        {"test-note-on-velocity.mid", "", 0, 1, 18, 0, 9 * kSecond / 2},
        {"test-running-status-metaevent.mid", "", 0, 1, 16, 0, scale},
        {"test-running-status-sysex.mid", "", 0, 1, 17, 1, scale},
        {"test-silence-all-notes-off.mid", "", 0, 1, 1, 0, 5 * kSecond},
        {"test-silence-end-of-track.mid", "", 0, 1, 0, 0, 5 * kSecond},
        {"test-silence-text-metaevent.mid", "", 0, 1, 0, 0, 5 * kSecond},
        {"test-smpte-offset.mid", "", 0, 1, 16, 0, scale},
        {"test-track-length.mid", "", 0, 1, 2, 0, 3 * kSecond / 2},
        {"test-vlq-2-byte.mid", "", 0, 1, 16, 0, scale},
        {"test-vlq-3-byte.mid", "", 0, 1, 16, 0, scale},
        {"test-vlq-4-byte.mid", "", 0, 1, 16, 0, scale},
        {"test-sysex-7e-06-01-id-request.mid", "", 0, 1, 1, 1},
        {"test-sysex-7e-09-01-gm1-enable.mid", "", 0, 1, 1, 1},
        {"test-sysex-7e-09-02-gm-disable.mid", "", 0, 1, 1, 1},
        {"test-sysex-7e-09-03-gm2-enable.mid", "", 0, 1, 1, 1},
        {"test-sysex-7f-04-03-master-fine-tuning.mid", "", 0, 1, 17, 7, 5 * kSecond / 2},
    };
    // Each illegal system message replaces the first note-on; the scale must survive whole.
    for (const char* name :
         {"test-illegal-message-f1-xx.mid", "test-illegal-message-f2-xx-xx.mid", "test-illegal-message-f3-xx.mid",
          "test-illegal-message-f4.mid", "test-illegal-message-f5.mid", "test-illegal-message-f6.mid",
          "test-illegal-message-f8.mid", "test-illegal-message-f9.mid", "test-illegal-message-fa.mid",
          "test-illegal-message-fb.mid", "test-illegal-message-fc.mid", "test-illegal-message-fd.mid",
          "test-illegal-message-fe.mid", "test-illegal-message-all.mid"})
        rows.push_back({name, "", 0, 1, 16, 0, scale, "track 1: illegal system message ignored"});
    // Valid files whose content this test does not count: they must load cleanly.
    for (const char* name :
         {"test-all-gm-percussion.mid", "test-all-gm-sounds.mid", "test-all-gm2-sounds.mid",
          "test-all-microsoft-gs-wavetable-synth-sounds.mid", "test-control-00-20-bank-select.mid",
          "test-control-40-damper.mid", "test-control-41-portamento.mid",
          "test-control-54-portamento-control.mid", "test-control-7c-omni-mode-off.mid",
          "test-control-7d-omni-mode-on.mid", "test-control-7e-mono-mode-on.mid",
          "test-control-7f-poly-mode-on.mid", "test-gm2-doggy-78-00-38-4c.mid",
          "test-gm2-doggy-79-01-7b.mid", "test-gs-doggy-01-00-7b.mid", "test-xg-doggy-40-00-30.mid",
          "test-xg-doggy-7e-00-00-54.mid", "test-rpn-00-00-pitch-bend-range.mid",
          "test-rpn-00-01-fine-tuning.mid", "test-rpn-00-02-coarse-tuning.mid",
          "test-rpn-00-05-modulation-depth-range.mid", "test-sysex-7f-04-04-master-coarse-tuning.mid",
          "test-sysex-7x-08-0x-scale-tuning.mid", "test-sysex-gs-40-1x-15-drum-part-change.mid",
          "test-sysex-gs-40-1x-4x-scale-tuning.mid"})
        rows.push_back({name, "", 0, 1});
    return rows;
}

void TestMidiFile::corpus_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("tracks");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("sysex");
    QTest::addColumn<qint64>("lengthNs");
    QTest::addColumn<QString>("warning");
    for (const CorpusRow& r : corpusRows())
        QTest::newRow(r.name) << QString(r.error) << r.format << r.tracks << r.events << r.sysex << r.lengthNs
                              << QString(r.warning);
}

void TestMidiFile::corpus()
{
    QFETCH(QString, error);
    const QString path = kData + "/midi/" + QString::fromLatin1(QTest::currentDataTag());
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    const LoadResult r = md::loadMidiFile(path.toStdString());
    if (!error.isEmpty()) {
        QVERIFY(!r.song);
        QCOMPARE(QString::fromStdString(r.error), error);
        return;
    }
    QVERIFY2(r.song, r.error.c_str());
    const Song& s = *r.song;
    QFETCH(int, format);
    QFETCH(int, tracks);
    QFETCH(int, events);
    QFETCH(int, sysex);
    QFETCH(qint64, lengthNs);
    QFETCH(QString, warning);
    QCOMPARE(s.format, format);
    QCOMPARE(s.tracks, tracks);
    if (events >= 0)
        QCOMPARE(int(s.events.size()), events);
    else
        QVERIFY(!s.events.empty());
    if (sysex >= 0)
        QCOMPARE(int(s.sysex.size()), sysex);
    if (lengthNs >= 0)
        QCOMPARE(qint64(s.lengthNs), lengthNs);
    if (warning.isEmpty())
        QVERIFY2(s.warnings.empty(), qPrintable(joined(s)));
    else
        QVERIFY2(joined(s).contains(warning), qPrintable(joined(s)));
    const std::string broken = md::songInvariantViolation(s, std::size_t(QFileInfo(path).size()));
    QVERIFY2(broken.empty(), broken.c_str());
}

// A corpus file nobody wrote an expectation for would be tested by nothing.
void TestMidiFile::corpusIsFullyListed()
{
    QStringList files = QDir(kData + "/midi").entryList({"*.mid", "*.syx"}, QDir::Files, QDir::Name);
    QStringList listed;
    for (const CorpusRow& r : corpusRows())
        listed.append(QString::fromLatin1(r.name));
    listed.sort();
    QCOMPARE(listed.removeDuplicates(), 0);
    QCOMPARE(files, listed);
}

void TestMidiFile::corpusDetails()
{
    // The illegal F1 xx sits where the first note-on starts; what follows must stay in step.
    LoadResult r = md::loadMidiFile((kData + "/midi/test-illegal-message-f1-xx.mid").toStdString());
    QVERIFY(r.song);
    const md::MidiEvent first = r.song->events.front();
    QCOMPARE(qint64(first.timeNs), qint64(0));
    QCOMPARE(int(first.status), 0x90);
    QCOMPARE(int(first.data1), 0x3C);
    QCOMPARE(int(first.data2), 0x7F);
    const md::MidiEvent last = r.song->events.back();
    QCOMPARE(qint64(last.timeNs), 4 * kSecond);
    QCOMPARE(int(last.status), 0x80);
    QCOMPARE(int(last.data1), 0x48);

    // Format 2: the second scale starts when the first one ends (4.5 s), one beat in.
    r = md::loadMidiFile((kData + "/midi/test-2-tracks-type-2.mid").toStdString());
    QVERIFY(r.song);
    const auto& ev = r.song->events;
    const auto c5sharp = std::find_if(ev.begin(), ev.end(), [](const md::MidiEvent& e) { return e.status == 0x91; });
    QVERIFY(c5sharp != ev.end());
    QCOMPARE(qint64(c5sharp->timeNs), 5 * kSecond);
    QCOMPARE(int(c5sharp->data1), 0x3D);

    // Running status survives the SysEx in the middle of the scale; the SysEx body is whole.
    r = md::loadMidiFile((kData + "/midi/test-running-status-sysex.mid").toStdString());
    QVERIFY(r.song);
    QCOMPARE(r.song->sysex.front(), (std::vector<uint8_t>{0x7E, 0x7F, 0x06, 0x01}));
    int noteOns = 0;
    for (const md::MidiEvent& e : r.song->events)
        noteOns += e.status == 0x90;
    QCOMPARE(noteOns, 16);
}

void TestMidiFile::refused_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("error");

    const QByteArray oneTrack = track(noteOn(0) + kEot);
    QTest::newRow("empty") << QByteArray() << "file is empty";
    QTest::newRow("text") << QByteArray("hello, world") << "not a MIDI file: no MThd header";
    QTest::newRow("bare MThd") << QByteArray("MThd") << "bad MIDI header: file too short";
    QTest::newRow("header length 5") << header(0, 1, 96, 5) + oneTrack << "bad MIDI header: length 5";
    QTest::newRow("header length past end") << header(0, 1, 96, 0xFFFFFFFF) + oneTrack
                                            << "bad MIDI header: length 4294967295";
    QTest::newRow("format 3") << header(3, 1, 96) + oneTrack << "unsupported MIDI format 3";
    QTest::newRow("format 65535") << header(0xFFFF, 1, 96) + oneTrack << "unsupported MIDI format 65535";
    QTest::newRow("division 0") << header(1, 1, 0) + oneTrack << "bad MIDI header: division is zero";
    QTest::newRow("SMPTE -23") << header(0, 1, 0xE9'28) + oneTrack << "bad MIDI header: unsupported SMPTE rate 23";
    QTest::newRow("PPQ 32768 read as SMPTE") << header(0, 1, 0x80'00) + oneTrack << "bad MIDI header: unsupported SMPTE rate 128";
    QTest::newRow("SMPTE 0 ticks") << header(0, 1, 0xE7'00) + oneTrack << "bad MIDI header: zero ticks per SMPTE frame";
    QTest::newRow("no track chunk") << header(0, 1, 96) << "no playable track";
    QTest::newRow("only a foreign chunk") << header(0, 1, 96) + "Junk" + be32(2) + "ab" << "no playable track";
    QTest::newRow("RIFF too short") << QByteArray("RIFF\x04\0\0\0", 8) << "not a MIDI file: truncated RIFF header";
    QTest::newRow("RIFF WAVE") << "RIFF" + le32(4) + "WAVE" << "not a MIDI file: RIFF file is not RMID";
    QTest::newRow("RMID without data") << "RIFF" + le32(14) + "RMID" + riffChunk("LIST", "ab")
                                       << "not a MIDI file: RMID file has no data chunk";
    QTest::newRow("RMID data not SMF") << rmid("nothing here") << "not a MIDI file: RMID data chunk holds no MThd header";
    // 5200 quarters of 16.78 s: 24.2 hours; the same with 5000 quarters loads (see timing).
    QTest::newRow("24 hours of PPQ") << header(0, 1, 1) + track(tempo(0, 0xFFFFFF) + noteOn(5200) + kEot)
                                     << "piece is longer than 24 hours";
    QTest::newRow("absurd tick count") << header(0, 1, 1) + track(noteOn(0x0FFFFFFF) + noteOn(0x0FFFFFFF) + kEot)
                                       << "piece is longer than 24 hours";
    QTest::newRow("End of Track after 24 hours") << header(0, 1, 96) + track(noteOn(0) + vlq(0x0FFFFFFF) + bytes({0xFF, 0x2F, 0}))
                                                 << "piece is longer than 24 hours";
    // 24 frames of 1 tick: 24 ticks a second, 86401 seconds.
    QTest::newRow("24 hours of SMPTE") << header(0, 1, 0xE8'01) + track(noteOn(86401 * 24) + kEot)
                                       << "piece is longer than 24 hours";
    // Each sequence of 4000 quarters lasts 18.6 hours; played one after the other: too long.
    const QByteArray longTrack = track(tempo(0, 0xFFFFFF) + noteOn(4000) + kEot);
    QTest::newRow("format 2 sum") << header(2, 2, 1) + longTrack + longTrack << "piece is longer than 24 hours";
}

void TestMidiFile::refused()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, error);
    const LoadResult r = parse(input);
    QVERIFY(!r.song);
    QCOMPARE(QString::fromStdString(r.error), error);
}

void TestMidiFile::oversizedBuffer()
{
    std::vector<uint8_t> big(md::kMaxMidiFileBytes + 1, 0);
    const char head[] = "MThd";
    std::copy(head, head + 4, big.begin());
    const LoadResult r = md::parseMidi(big);
    QVERIFY(!r.song);
    QCOMPARE(r.error, std::string("file is larger than 64 MiB"));
}

void TestMidiFile::repaired_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<qint64>("lengthNs");

    const qint64 beat = kSecond / 2; // 96 ticks at 120 BPM
    const QByteArray h = header(0, 1, 96);
    const QByteArray two = noteOn(0) + noteOn(96, 62);
    QTest::newRow("missing End of Track") << h + track(two) << "track 1: missing End of Track"
                                          << QList<qint64>{0, beat} << beat;
    QTest::newRow("fewer tracks than declared") << header(1, 3, 96) + track(two + kEot)
                                                << "header declares 3 tracks, file has 1"
                                                << QList<qint64>{0, beat} << beat;
    QTest::newRow("more tracks than declared") << header(1, 1, 96) + track(two + kEot) + track(noteOn(192) + kEot)
                                               << "header declares 1 tracks, file has 2; playing all"
                                               << QList<qint64>{0, beat, 2 * beat} << 2 * beat;
    QTest::newRow("track longer than file") << h + "MTrk" + be32(1000) + two + kEot
                                            << "track 1: length runs past the end of the file"
                                            << QList<qint64>{0, beat} << beat;
    QTest::newRow("trailing garbage") << h + track(two + kEot) + bytes({1, 2})
                                      << "ignored trailing garbage (2 bytes)" << QList<qint64>{0, beat} << beat;
    QTest::newRow("unknown chunk") << h + "XFIH" + be32(3) + "abc" + track(two + kEot)
                                   << "skipped unknown chunk 'XFIH'" << QList<qint64>{0, beat} << beat;
    QTest::newRow("data after End of Track") << h + track(two + kEot + noteOn(0, 64))
                                             << "track 1: data after End of Track ignored"
                                             << QList<qint64>{0, beat} << beat;
    QTest::newRow("tempo of zero") << h + track(tempo(0, 0) + two + kEot) << "track 1: tempo of zero ignored"
                                   << QList<qint64>{0, beat} << beat;
    QTest::newRow("malformed tempo") << h + track(bytes({0, 0xFF, 0x51, 2, 0, 1}) + two + kEot)
                                     << "track 1: malformed tempo event ignored" << QList<qint64>{0, beat} << beat;
    QTest::newRow("data byte before any status") << h + track(bytes({0, 0x3C}) + two + kEot)
                                                 << "track 1: data byte without a status ignored"
                                                 << QList<qint64>{0, beat} << beat;
    QTest::newRow("five-byte delta") << h + track(two + bytes({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 1, 1}))
                                     << "track 1: bad delta time" << QList<qint64>{0, beat} << beat;
    QTest::newRow("status byte as data") << h + track(noteOn(0) + bytes({0, 0x90, 0x3C, 0x90}) + noteOn(96, 62) + kEot)
                                         << "track 1: message with a bad data byte dropped"
                                         << QList<qint64>{0, beat} << beat;
    QTest::newRow("note cut short") << h + track(two + bytes({0, 0x90, 0x3C}))
                                    << "track 1: event cut short at end of track" << QList<qint64>{0, beat} << beat;
    QTest::newRow("meta cut short") << h + track(two + bytes({0, 0xFF, 0x01, 0x40, 'a'}))
                                    << "track 1: event cut short at end of track" << QList<qint64>{0, beat} << beat;
    // Running status carries on after a stray real-time byte.
    QTest::newRow("timing clock amid running status") << h + track(noteOn(0) + bytes({0, 0xF8, 0x60, 0x3E, 0x40}) + kEot)
                                                      << "track 1: illegal system message ignored"
                                                      << QList<qint64>{0, beat} << beat;
    QTest::newRow("RIFF size past end") << "RIFF" + le32(9999) + "RMID" + riffChunk("data", h + track(two + kEot))
                                        << "RIFF size runs past the end of the file"
                                        << QList<qint64>{0, beat} << beat;
    const QByteArray smf = h + track(two + kEot);
    QTest::newRow("RIFF data chunk past end") << "RIFF" + le32(quint32(smf.size() + 12)) + "RMID" + "data" + le32(5000) + smf
                                              << "RIFF chunk runs past the end of the file"
                                              << QList<qint64>{0, beat} << beat;
}

void TestMidiFile::repaired()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, warning);
    QFETCH(QList<qint64>, times);
    QFETCH(qint64, lengthNs);
    const LoadResult r = parse(input);
    QVERIFY2(r.song, r.error.c_str());
    QVERIFY2(joined(*r.song).contains(warning), qPrintable(joined(*r.song)));
    QCOMPARE(::times(*r.song), times);
    QCOMPARE(qint64(r.song->lengthNs), lengthNs);
    const std::string broken = md::songInvariantViolation(*r.song, std::size_t(input.size()));
    QVERIFY2(broken.empty(), broken.c_str());
}

// Hand-computed times: ns = ticks * microseconds per quarter * 1000 / PPQ, floored.
void TestMidiFile::timing_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<qint64>("lengthNs");
    QTest::addColumn<int>("tempoChanges");

    // 480 PPQ; the conductor halves the beat at tick 960 (1 s): tick 1440 = 1 s + 0.25 s.
    const QByteArray conductor = track(tempo(0, 500000) + tempo(960, 250000) + kEot);
    const QByteArray notes = track(noteOn(480) + noteOn(960) + noteOn(480) + kEot);
    QTest::newRow("PPQ tempo map") << header(1, 2, 480) + conductor + notes
                                   << QList<qint64>{kSecond / 2, 5 * kSecond / 4, 3 * kSecond / 2}
                                   << 3 * kSecond / 2 << 2;
    // A tempo change in a later track applies to the earlier one.
    QTest::newRow("tempo from another track") << header(1, 2, 96) + track(noteOn(96) + noteOn(96) + kEot)
                                                     + track(tempo(96, 1000000) + kEot)
                                              << QList<qint64>{kSecond / 2, 3 * kSecond / 2} << 3 * kSecond / 2 << 1;
    // At one tick, the last tempo change wins.
    QTest::newRow("two tempos at one tick") << header(0, 1, 96) + track(tempo(0, 1000000) + tempo(0, 250000) + noteOn(96) + kEot)
                                            << QList<qint64>{kSecond / 4} << kSecond / 4 << 2;
    // 500001 us * 1000 / 96 = 5208343.75 ns per tick.
    QTest::newRow("floored nanoseconds") << header(0, 1, 96) + track(tempo(0, 500001) + noteOn(1) + kEot)
                                         << QList<qint64>{5208343} << qint64(5208343) << 1;
    QTest::newRow("just under 24 hours") << header(0, 1, 1) + track(tempo(0, 0xFFFFFF) + noteOn(5000) + kEot)
                                         << QList<qint64>{5000LL * 0xFFFFFF * 1000} << 5000LL * 0xFFFFFF * 1000 << 1;
    // SMPTE: 25 fps x 40 ticks = 1000 ticks a second; tempo events change nothing.
    QTest::newRow("SMPTE 25") << header(0, 1, 0xE7'28) + track(tempo(0, 250000) + noteOn(1500) + kEot)
                              << QList<qint64>{3 * kSecond / 2} << 3 * kSecond / 2 << 0;
    QTest::newRow("SMPTE 30") << header(0, 1, 0xE2'50) + track(noteOn(2400) + kEot) << QList<qint64>{kSecond} << kSecond << 0;
    QTest::newRow("SMPTE 24") << header(0, 1, 0xE8'04) + track(noteOn(48) + kEot) << QList<qint64>{kSecond / 2} << kSecond / 2 << 0;
    // 29.97 drop-frame is 30000/1001 frames a second: 30000 ticks of 1/100 frame = 10.01 s.
    QTest::newRow("SMPTE 29.97") << header(0, 1, 0xE3'64) + track(noteOn(30000) + kEot)
                                 << QList<qint64>{10'010'000'000} << qint64(10'010'000'000) << 0;
    // Format 2: sequence 1 (own tempo, 1 s a beat) ends at 2 s; sequence 2 plays at 120 BPM.
    QTest::newRow("format 2 one after another")
        << header(2, 2, 96) + track(tempo(0, 1000000) + noteOn(96) + vlq(96) + bytes({0xFF, 0x2F, 0}))
               + track(noteOn(0) + noteOn(96) + kEot)
        << QList<qint64>{kSecond, 2 * kSecond, 5 * kSecond / 2} << 5 * kSecond / 2 << 1;
    // The longest track's End of Track sets the length, even past the last note.
    QTest::newRow("length from End of Track") << header(1, 2, 96) + track(noteOn(0) + kEot)
                                                     + track(vlq(960) + bytes({0xFF, 0x2F, 0}))
                                              << QList<qint64>{0} << 5 * kSecond << 0;
}

void TestMidiFile::timing()
{
    QFETCH(QByteArray, input);
    QFETCH(QList<qint64>, times);
    QFETCH(qint64, lengthNs);
    QFETCH(int, tempoChanges);
    const LoadResult r = parse(input);
    QVERIFY2(r.song, r.error.c_str());
    QVERIFY2(r.song->warnings.empty(), qPrintable(joined(*r.song)));
    QCOMPARE(::times(*r.song), times);
    QCOMPARE(qint64(r.song->lengthNs), lengthNs);
    QCOMPARE(r.song->tempoChanges, tempoChanges);
}

void TestMidiFile::fileOrderAtEqualTimes()
{
    // Track 1: program change then note at 0, a note at 96. Track 2: program, note at 0.
    const QByteArray t1 = track(bytes({0, 0xC0, 5}) + noteOn(0, 60) + noteOn(96, 61) + kEot);
    const QByteArray t2 = track(bytes({0, 0xC1, 7}) + bytes({0, 0x91, 64, 90}) + kEot);
    const LoadResult r = parse(header(1, 2, 96) + t1 + t2);
    QVERIFY2(r.song, r.error.c_str());
    QList<int> order;
    for (const md::MidiEvent& e : r.song->events)
        order.append(e.status << 8 | e.data1);
    QCOMPARE(order, (QList<int>{0xC005, 0x903C, 0xC107, 0x9140, 0x903D}));
    QCOMPARE(int(r.song->events[1].data2), 100);
    QCOMPARE(int(r.song->events[0].data2), 0);

    // Many simultaneous events, where an unstable sort would shuffle them: three tracks of
    // 40 controller changes each at tick 0, then one later note in track 1.
    QByteArray file = header(1, 3, 96);
    for (int t = 0; t < 3; ++t) {
        QByteArray ev;
        for (int i = 0; i < 40; ++i)
            ev += bytes({0, 0xB0 | t, 7, i});
        if (t == 0)
            ev += noteOn(1);
        file += track(ev + kEot);
    }
    const LoadResult many = parse(file);
    QVERIFY2(many.song, many.error.c_str());
    QCOMPARE(int(many.song->events.size()), 121);
    for (int t = 0; t < 3; ++t) {
        for (int i = 0; i < 40; ++i) {
            const md::MidiEvent& e = many.song->events[std::size_t(t * 40 + i)];
            QCOMPARE(int(e.status), 0xB0 | t);
            QCOMPARE(int(e.data2), i);
        }
    }
    QCOMPARE(int(many.song->events.back().status), 0x90);
}

void TestMidiFile::sysex_data()
{
    QTest::addColumn<QByteArray>("events");
    QTest::addColumn<QList<QByteArray>>("bodies");
    QTest::addColumn<QList<qint64>>("times");

    QTest::newRow("F0 whole") << bytes({0, 0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                              << QList<QByteArray>{bytes({0x7E, 0x7F, 0x09, 0x01})} << QList<qint64>{0};
    // Sent whole when it starts; the continuation 96 ticks later is joined to it.
    QTest::newRow("F0 continued by F7") << bytes({0, 0xF0, 3, 0x43, 0x12, 0x00}) + vlq(96) + bytes({0xF7, 3, 0x43, 0x12, 0xF7})
                                        << QList<QByteArray>{bytes({0x43, 0x12, 0x00, 0x43, 0x12})} << QList<qint64>{0};
    QTest::newRow("three packets") << bytes({0, 0xF0, 1, 0x41, 0, 0xF7, 1, 0x10, 0, 0xF7, 2, 0x42, 0xF7})
                                   << QList<QByteArray>{bytes({0x41, 0x10, 0x42})} << QList<qint64>{0};
    QTest::newRow("escaped whole message") << bytes({0, 0xF7, 6, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                           << QList<QByteArray>{bytes({0x7E, 0x7F, 0x09, 0x01})} << QList<qint64>{0};
    QTest::newRow("escaped song select skipped") << bytes({0, 0xF7, 2, 0xF3, 0x01}) << QList<QByteArray>{}
                                                 << QList<qint64>{};
    QTest::newRow("empty message dropped") << bytes({0, 0xF0, 1, 0xF7}) << QList<QByteArray>{} << QList<qint64>{};
    QTest::newRow("two messages, running status kept")
        << noteOn(0) + bytes({0, 0xF0, 2, 0x01, 0xF7}) + vlq(96) + bytes({0xF0, 2, 0x02, 0xF7}) + bytes({0, 0x3E, 0x40})
        << QList<QByteArray>{bytes({0x01}), bytes({0x02})} << QList<qint64>{0, 0, kSecond / 2, kSecond / 2};
}

void TestMidiFile::sysex()
{
    QFETCH(QByteArray, events);
    QFETCH(QList<QByteArray>, bodies);
    QFETCH(QList<qint64>, times);
    const LoadResult r = parse(header(0, 1, 96) + track(events + kEot));
    QVERIFY2(r.song, r.error.c_str());
    QList<QByteArray> got;
    for (const md::MidiEvent& e : r.song->events) {
        if (e.status != 0xF0)
            continue;
        QVERIFY(e.sysex < r.song->sysex.size());
        const auto& b = r.song->sysex[e.sysex];
        got.append(QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())));
    }
    QCOMPARE(got, bodies);
    QCOMPARE(::times(*r.song), times);
}

void TestMidiFile::rmidMatchesPlainFile()
{
    const QByteArray smf = readAll(kData + "/midi/test-karaoke-kar.mid");
    QVERIFY(!smf.isEmpty());
    const LoadResult plain = parse(smf);
    // An odd-sized INFO chunk before the data, padded; another chunk after it.
    const LoadResult wrapped = parse(rmid(smf, riffChunk("LIST", "INFOINAM\x03\0\0\0abc")) + riffChunk("DISP", "x"));
    QVERIFY(plain.song && wrapped.song);
    QVERIFY2(wrapped.song->warnings.empty(), qPrintable(joined(*wrapped.song)));
    QCOMPARE(wrapped.song->events.size(), plain.song->events.size());
    for (std::size_t i = 0; i < plain.song->events.size(); ++i) {
        const md::MidiEvent& a = plain.song->events[i];
        const md::MidiEvent& b = wrapped.song->events[i];
        QCOMPARE(b.timeNs, a.timeNs);
        QCOMPARE(b.status, a.status);
        QCOMPARE(b.data1, a.data1);
        QCOMPARE(b.data2, a.data2);
    }
    QCOMPARE(wrapped.song->lengthNs, plain.song->lengthNs);
}

// Inputs that once broke the loader (or were written to try to) must keep parsing safely.
void TestMidiFile::regressions()
{
    const QDir dir(kData + "/../fuzz/regressions");
    const QStringList files = dir.entryList(QDir::Files);
    QVERIFY2(!files.isEmpty(), qPrintable(dir.path()));
    for (const QString& f : files) {
        const QByteArray input = readAll(dir.filePath(f));
        const LoadResult r = parse(input);
        if (!r.song) {
            QVERIFY2(!r.error.empty(), qPrintable(f));
            continue;
        }
        const std::string broken = md::songInvariantViolation(*r.song, std::size_t(input.size()));
        QVERIFY2(broken.empty(), qPrintable(f + ": " + QString::fromStdString(broken)));
    }
}

QTEST_GUILESS_MAIN(TestMidiFile)
#include "tst_midifile.moc"
