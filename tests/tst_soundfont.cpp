// Which SoundFont the device plays with: the piece's own bank, the one beside the piece, the
// run's; one that cannot be loaded passed over; one chosen while a piece plays heard at once;
// what is not a usable SoundFont refused. The tests' two SoundFonts are told apart by pitch:
// A4 is 440 Hz on one and a fifth higher on the other.

#include "Support.h"

#include <QTest>

using namespace test;

namespace {

const QString kBase = QStringLiteral(MELLOWDECK_TEST_SOUNDFONT);
const QString kFifth = QStringLiteral(MELLOWDECK_TEST_SOUNDFONT_FIFTH);
const double kFifthHz = 440.0 * std::pow(2.0, 7.0 / 12.0);

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray riff(const char* id, const QByteArray& body)
{
    const auto n = quint32(body.size());
    return id + bytes({int(n & 0xFF), int(n >> 8 & 0xFF), int(n >> 16 & 0xFF), int(n >> 24)}) + body
        + QByteArray(body.size() % 2, '\0');
}

// A4 for half a second, then again.
const QByteArray kTune = smf(0, 441, {track(noteOn(0, 0, 69) + noteOff(441, 0, 69) + noteOn(441, 0, 69) + noteOff(441, 0, 69))});

// From the beginning: the pitch of the first note.
double heard(md::SynthDevice& device)
{
    device.prev();
    device.play();
    return pitch(render(device, 22050), 0.1, 0.45);
}

} // namespace

class TestSoundFont : public QObject {
    Q_OBJECT

private slots:
    void pieceBringsItsOwn_data()
    {
        QTest::addColumn<QString>("run");
        QTest::addColumn<QByteArray>("beside");   // song.sf2's content
        QTest::addColumn<QByteArray>("bank");     // inside song.rmi, a chunk: its id, then the bank's form
        QTest::addColumn<QString>("from");        // "run", "beside" or "bank"
        QTest::addColumn<bool>("warned");
        const QByteArray base = contents(kBase), fifth = contents(kFifth);
        QTest::newRow("the run's") << kFifth << QByteArray() << QByteArray() << "run" << false;
        QTest::newRow("beside beats the run's") << kBase << fifth << QByteArray() << "beside" << false;
        QTest::newRow("RIFF bank beats beside") << kBase << base << riff("RIFF", fifth.mid(8)) << "bank" << false;
        QTest::newRow("LIST bank") << kBase << QByteArray() << riff("LIST", fifth.mid(8)) << "bank" << false;
        QTest::newRow("damaged bank") << kFifth << QByteArray() << riff("RIFF", base.mid(8, 400)) << "run" << true;
        QTest::newRow("damaged beside") << kFifth << QByteArrayLiteral("RIFF\4\0\0\0sfbk") << QByteArray() << "run" << true;
    }

    // Each row, then a drop while it is open, then a piece that brings nothing.
    void pieceBringsItsOwn()
    {
        QFETCH(QString, run);
        QFETCH(QByteArray, beside);
        QFETCH(QByteArray, bank);
        QFETCH(QString, from);
        QFETCH(bool, warned);
        Files files;
        if (!beside.isEmpty())
            files.write("song.sf2", beside);
        const QString song = bank.isEmpty() ? files.write("song.mid", kTune)
                                            : files.write("song.rmi", riff("RIFF", "RMID" + riff("data", kTune) + bank));
        md::SynthDevice device(offline(run.toStdString()));
        QVERIFY2(device.open(song.toStdString()), device.errorMessage().c_str());
        const double hz = from == "run" && run == kBase ? 440.0 : kFifthHz;
        QVERIFY(std::abs(heard(device) - hz) < 1.0);
        const std::string name = from == "run" ? run.toStdString() : from == "beside" ? files.dir.filePath("song.sf2").toStdString()
                                                                                       : "the bank inside " + song.toStdString();
        QCOMPARE(device.soundFont(), name);
        QCOMPARE(!device.soundFontWarning().empty(), warned);
        // Chosen while the piece is open: heard at once unless the piece brought its own.
        QVERIFY(device.setSoundFont(kBase.toStdString()));
        QVERIFY(std::abs(heard(device) - (from == "run" ? 440.0 : hz)) < 1.0);
        QVERIFY(device.open(files.write("other.mid", kTune).toStdString()));
        QVERIFY(std::abs(heard(device) - 440.0) < 1.0 && device.soundFontWarning().empty());
    }

    void choosingWhilePlaying()
    {
        Files files;
        md::SynthDevice device(offline());
        QVERIFY(device.open(files.write("a.mid", kTune).toStdString()) && device.play());
        QVERIFY(std::abs(pitch(render(device, 22050), 0.1, 0.45) - 440.0) < 1.0);
        const QString midi = files.write("as.sf2", kTune), dls = files.write("broken.dls", QByteArrayLiteral("RIFF\4\0\0\0DLS "));
        const std::pair<QString, std::string> refused[] = {
            {files.write("b.mid", kTune), "File > Open plays it"}, {files.dir.filePath("none.sf2"), "no such file"},
            {midi, "it is a MIDI file"}, {files.write("cut.sf2", contents(kFifth).left(500)), "damaged"}, {dls, "DLS"}};
        for (const auto& [path, why] : refused) {
            QVERIFY(!device.setSoundFont(path.toStdString()));
            QVERIFY2(device.errorMessage().find(why) != std::string::npos, device.errorMessage().c_str());
        }
        QCOMPARE(device.soundFont(), std::string(MELLOWDECK_TEST_SOUNDFONT));
        QVERIFY(device.setSoundFont(kFifth.toStdString()));
        // The second note, begun after the change, is in the new SoundFont's pitch.
        const std::vector<float> after = render(device, 46000);
        QVERIFY2(std::abs(pitch(after, 0.6, 0.95) - kFifthHz) < 1.0, qPrintable(QString::number(pitch(after, 0.6, 0.95))));
        QCOMPARE(device.activeVoices(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSoundFont)
#include "tst_soundfont.moc"
