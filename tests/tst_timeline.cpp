// The output's timeline without a server: where new sound may begin on a sink that takes audio
// back and on one that cannot, what a probe teaches, what is heard and when.
#include "OutputTimeline.h"

#include <QTest>

using md::OutputTimeline;
using md::ServerReport;
using TakeBack = OutputTimeline::TakeBack;

namespace {

constexpr int64_t kGuard = 100, kAhead = 2000;

// A playing stream written to 20000 whose server read to `read`, its sink `delay` behind.
OutputTimeline playing(int64_t read, int64_t delay, int64_t sinceUnderrun = 1 << 20)
{
    OutputTimeline t(1000.0, kGuard, kAhead);   // a frame a millisecond
    t.wrote(0, 20000);
    t.report({read, delay, 0, sinceUnderrun, true, {}});
    return t;
}

// Probes from where the timeline asks; the server then reports its read index at `after` twice.
void probe(OutputTimeline& t, int64_t after)
{
    const auto from = t.probeFrom();
    QVERIFY(from && *from < t.last().readIndex);
    t.probed(*from);
    for (int i = 0; i < 2; ++i)
        t.report({after, t.last().sinkDelay, 0, 1 << 20, true, {}});
}

} // namespace

class TestTimeline : public QObject {
    Q_OBJECT
private slots:
    void newSoundAt_data()
    {
        QTest::addColumn<qint64>("read");
        QTest::addColumn<qint64>("delay");
        QTest::addColumn<qint64>("sinceUnderrun");
        QTest::addColumn<qint64>("takeBackAfter");   // the read index a probe leaves, -1: none
        QTest::addColumn<qint64>("want");
        const auto row = [](const char* name, qint64 read, qint64 delay, qint64 sinceUnderrun, qint64 back, qint64 want) {
            QTest::newRow(name) << read << delay << sinceUnderrun << back << want;
        };
        // Not known to take back: after all the sink may read by then (heard + what it was
        // asked to read ahead), never before the read index.
        row("unknown, little read", 10000, 500, 1 << 20, -1, 9500 + kAhead + kGuard);
        row("unknown, read far ahead", 10000, 4000, 1 << 20, -1, 10000 + kGuard);
        // Seen to take back: just after what is heard, but not before the last underrun.
        row("takes back", 10000, 1000, 1 << 20, 9400, 9000 + kGuard);
        row("takes back since the underrun", 10000, 1000, 500, 9400, 9500 + kGuard);
        // A read index that does not come back: the sink did not take back. Reports have shown
        // how far it reads ahead.
        row("probe in vain", 10000, 1000, 1 << 20, 10000, 10000 + kGuard);
    }
    void newSoundAt()
    {
        QFETCH(qint64, read);
        QFETCH(qint64, delay);
        QFETCH(qint64, sinceUnderrun);
        QFETCH(qint64, takeBackAfter);
        QFETCH(qint64, want);
        OutputTimeline t = playing(read, delay);
        if (takeBackAfter >= 0)
            probe(t, takeBackAfter);
        t.report({read, delay, 0, sinceUnderrun, true, {}});
        QCOMPARE(t.newSoundAt(), want);
        QCOMPARE(t.unheardFrom(want), std::max<int64_t>(0, 20000 - want));
    }

    // Three probes in vain: the sink does not take back, and is not probed again until the
    // stream moves to another sink.
    void learnsNoAndForgetsOnMove()
    {
        OutputTimeline t = playing(10000, 1000);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(t.takesBack(), TakeBack::Unknown);
            probe(t, 10000);
        }
        QCOMPARE(t.takesBack(), TakeBack::No);
        QVERIFY(!t.probeFrom());
        t.forget();
        QCOMPARE(t.takesBack(), TakeBack::Unknown);
        QVERIFY(t.probeFrom());
    }

    // Right after an underrun or an uncork the stream does not play, but what it holds is still
    // heard after the sink's share; the end of a piece is heard that much later.
    void heardKeepsTheSinkShareWhenNotPlaying()
    {
        OutputTimeline t(1000.0, kGuard, kAhead);
        const auto at = OutputTimeline::Clock::now();
        t.report({5000, 300, 7, 0, false, at});
        QCOMPARE(t.heard(), 4700);
        QCOMPARE(t.heardAt(6000), at + std::chrono::milliseconds(1300));
        // The last moment to go on from the end: before the sink may have read to it.
        QCOMPARE(t.lastMomentFor(6000, std::chrono::milliseconds(10)), at + std::chrono::milliseconds(1300 - kAhead - 10));
    }
};

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
