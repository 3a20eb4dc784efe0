// The output's timeline without a server: where new sound may begin on a sink that takes audio
// back and on one that cannot, what a probe teaches, what is heard and when.
#include "OutputTimeline.h"

#include <QTest>

using md::OutputTimeline;
using ms = std::chrono::milliseconds;
constexpr qint64 kGuard = 100, kAhead = 2000, kAll = 1 << 20;

class TestTimeline : public QObject {
    Q_OBJECT
    // Written to 20000, a frame a millisecond; the server read to `read`, its sink `delay` behind.
    static OutputTimeline playing(qint64 read, qint64 delay)
    {
        OutputTimeline t(1000.0, kGuard, kAhead);
        t.wrote(0, 20000);
        t.report({read, delay, 0, kAll, true, {}});
        return t;
    }
    // Rewrites from where the timeline asks; the server then reports its read index at `after`.
    static void probe(OutputTimeline& t, qint64 after)
    {
        t.probed(t.probeFrom().value());
        for (int i = 0; i < 2; ++i)
            t.report({after, t.last().sinkDelay, 0, kAll, true, {}});
    }

private slots:
    void newSoundAt_data()
    {
        QTest::addColumn<qint64>("delay");
        QTest::addColumn<qint64>("sinceUnderrun");
        QTest::addColumn<qint64>("probedTo");   // the read index a probe leaves; 0: none
        QTest::addColumn<qint64>("want");
        const auto row = [](const char* name, qint64 delay, qint64 since, qint64 probed, qint64 want) {
            QTest::newRow(name) << delay << since << probed << want;
        };
        // Read to 10000. Not known to take back: after all the sink may have read by then (what it was asked
        // to read ahead, or a sixteenth more than seen), never before the read index.
        row("unknown", 500, kAll, 0, 9500 + kAhead + kGuard);
        row("unknown, read far ahead", 4000, kAll, 0, 6000 + 4250 + kGuard);
        // Seen to take back: just after what is heard, but not before the last underrun.
        row("takes back", 1000, kAll, 9400, 9000 + kGuard);
        row("takes back since the underrun", 1000, 500, 9400, 9500 + kGuard);
        // The read index did not come back; reports have shown how far the sink reads ahead.
        row("probe in vain", 1000, kAll, 10000, 9000 + 1062 + kGuard);
    }
    void newSoundAt()
    {
        QFETCH(qint64, delay);
        QFETCH(qint64, sinceUnderrun);
        QFETCH(qint64, probedTo);
        QFETCH(qint64, want);
        OutputTimeline t = playing(10000, delay);
        if (probedTo)
            probe(t, probedTo);
        t.report({10000, delay, 0, sinceUnderrun, true, {}});
        QCOMPARE(t.newSoundAt(), want);
        QCOMPARE(t.unheardFrom(want), std::max<qint64>(0, 20000 - want));
    }

    // Three probes in vain: the sink does not take back and is not probed again until the
    // stream moves to another sink.
    void learnsNoAndForgetsOnMove()
    {
        OutputTimeline t = playing(10000, 1000);
        for (int i = 0; i < 3; ++i)
            probe(t, 10000);
        QCOMPARE(t.takesBack(), OutputTimeline::TakeBack::No);
        QVERIFY(!t.probeFrom());
        t.forget();
        QVERIFY(t.takesBack() == OutputTimeline::TakeBack::Unknown && t.probeFrom());
    }

    // Right after an underrun or an uncork the stream does not play, yet what it holds is heard
    // only after the sink's share: so is the end of a piece, and its last moment to go on.
    void heardKeepsTheSinkShareWhenNotPlaying()
    {
        OutputTimeline t(1000.0, kGuard, kAhead);
        const auto at = OutputTimeline::Clock::now();
        t.report({5000, 300, 7, 0, false, at});
        QCOMPARE(t.heard(), 4700);
        QCOMPARE(t.heardAt(6000), at + ms(1300));
        QCOMPARE(t.lastMomentFor(6000, ms(10)), at + ms(1300 - kAhead - 10));
    }
};

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
