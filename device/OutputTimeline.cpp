#include "OutputTimeline.h"

#include <algorithm>
#include <cmath>

namespace md {

namespace {

// A probe that two reports in a row leave undecided (the sink read on before the report, or
// took nothing back) is tried again; after this many the sink counts as one that does not
// take back. A sink that took back moves its read index back at once, and a report catches
// that before the sink reads the same audio again: it waits to be played first.
constexpr int kVainProbes = 3;
// The least a sink is taken to read ahead: PipeWire's default quantum is 1024 frames at 48 kHz.
constexpr double kMinAheadMs = 25;
// Reports of a playing stream it takes to know how far its sink reads ahead.
constexpr int kSeenEnough = 3;

} // namespace

OutputTimeline::OutputTimeline(double rate, int64_t guard, int64_t expectedAhead)
    : m_rate(rate), m_guard(guard), m_expectedAhead(expectedAhead), m_minAhead(std::llround(kMinAheadMs * rate / 1000.0))
{
}

void OutputTimeline::report(const ServerReport& report)
{
    m_last = report;
    if (report.running) {
        m_ahead = std::max(m_ahead, report.readIndex - heard());
        ++m_seen;
    }
    if (!m_probe)
        return;
    if (report.readIndex < m_probe->readBefore && report.readIndex <= m_probe->from + m_guard) {
        m_takeBack = TakeBack::Yes;
        m_probe.reset();
    } else if (++m_probe->replies >= 2) {
        m_probe.reset();
        if (++m_vainProbes >= kVainProbes)
            m_takeBack = TakeBack::No;
    }
}

int64_t OutputTimeline::heard() const
{
    // The sink's share is left out whether or not the stream plays at the moment: right after
    // it ran dry or was uncorked, what is read next is still heard that much later.
    return m_last.readIndex - m_last.sinkDelay + (m_last.running ? m_last.transport : 0);
}

int64_t OutputTimeline::newSoundAt() const
{
    const int64_t heardNow = heard();
    if (m_takeBack == TakeBack::Yes)
        return std::max(heardNow, m_last.readIndex - m_last.sinceUnderrun) + m_guard;
    // Past all the sink may have read by the time the new sound reaches the server.
    return std::max(m_last.readIndex, heardNow + aheadAtMost()) + m_guard;
}

OutputTimeline::Clock::time_point OutputTimeline::heardAt(int64_t frame) const
{
    const auto until = std::chrono::duration<double>(double(frame - heard()) / m_rate);
    return m_last.at + std::chrono::duration_cast<Clock::duration>(until);
}

OutputTimeline::Clock::time_point OutputTimeline::lastMomentFor(int64_t frame, Clock::duration margin) const
{
    return heardAt(frame - aheadAtMost()) - margin;
}

int64_t OutputTimeline::aheadAtMost() const
{
    // A few reports show how far the sink reads ahead; until then, what it was asked for. A
    // sink that reads in pieces may take one more just after a report: a sixteenth more than
    // seen (a pipe's), and never less than one period of PipeWire's graph, which reads a
    // quantum at a time but reports less.
    const int64_t seen = std::max(m_ahead + m_ahead / 16, m_minAhead);
    return m_seen >= kSeenEnough ? seen : std::max(seen, m_expectedAhead);
}

std::optional<int64_t> OutputTimeline::probeFrom() const
{
    if (m_takeBack != TakeBack::Unknown || m_probe || !m_last.running)
        return std::nullopt;
    // Far enough ahead of what is heard that the sink, having taken back, waits a while
    // before it reads there again, and the reports see its read index back there.
    const int64_t from = heard() + 3 * m_guard;
    const int64_t read = m_last.readIndex;
    if (read - from < m_guard || m_last.sinceUnderrun < read - from || from >= m_written)
        return std::nullopt;
    return from;
}

void OutputTimeline::probed(int64_t from)
{
    m_probe = Probe{from, m_last.readIndex};
}

void OutputTimeline::forget()
{
    m_takeBack = TakeBack::Unknown;
    m_probe.reset();
    m_vainProbes = 0;
    m_ahead = 0;
    m_seen = 0;
}

} // namespace md
