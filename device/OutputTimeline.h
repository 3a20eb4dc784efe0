#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace md {

// What the sound server said about a playback stream at one moment, in frames of the stream
// (frame 0 is the first one the output wrote).
struct ServerReport {
    int64_t readIndex = 0;       // frames the server has taken from the stream
    int64_t sinkDelay = 0;       // of those, how many its sink holds, not yet heard
    int64_t transport = 0;       // how long the answer took to come, in frames
    int64_t sinceUnderrun = 0;   // frames played since the stream last ran dry
    bool running = false;        // playing: not corked, not suspended, not waiting for data
    std::chrono::steady_clock::time_point at{};   // when the answer came
};

// An output's account of a stream: what it wrote, what the server confirmed it read or took
// back, what is heard. It answers where new sound may begin without anything written before
// being heard twice or cut short, how many written frames will not be heard, and when a frame
// is heard. It talks to no server: the output feeds it what the server says.
//
// A sink reads ahead of what is heard. Whatever it has read plays, unless it takes it back
// (a rewind); many sinks cannot (Bluetooth, pipes, tunnels, PipeWire), and those that can
// take back only what played since the stream last ran dry. So new sound goes after what the
// sink may have read by the time it arrives, unless the sink has shown that it takes back:
// rewriting identical audio before its read index moved that index back (a probe, which
// changes nothing that is heard).
class OutputTimeline {
public:
    using Clock = std::chrono::steady_clock;

    // `guard`: frames between where the sink may be and where new sound begins, for the
    // round trip of the write; `expectedAhead`: how far the sink is expected to read ahead
    // until a report says.
    OutputTimeline(double rate, int64_t guard, int64_t expectedAhead);

    void wrote(int64_t at, int64_t frames) { m_written = at + frames; }
    int64_t written() const { return m_written; }

    void report(const ServerReport& report);
    // The most the sink was seen to read ahead of what is heard while playing; 0 until seen.
    int64_t ahead() const { return m_ahead; }
    const ServerReport& last() const { return m_last; }

    // The frame being heard at the last report.
    int64_t heard() const;
    // Where new sound may begin (at the last report): as soon after what is heard as the sink
    // allows. May lie beyond written() when the stream ran dry.
    int64_t newSoundAt() const;
    // Frames written from `from` on, which will not be heard once replaced.
    int64_t unheardFrom(int64_t from) const { return from < m_written ? m_written - from : 0; }
    // When `frame` is heard.
    Clock::time_point heardAt(int64_t frame) const;
    // The latest moment sound for `frame` can be written for the sink to play it right after
    // what comes before, with `margin` to spare.
    Clock::time_point lastMomentFor(int64_t frame, Clock::duration margin) const;

    enum class TakeBack { Unknown, No, Yes };
    TakeBack takesBack() const { return m_takeBack; }
    // Where to rewrite identical audio (up to written()) to learn whether the sink takes back,
    // or nothing when that is known or cannot be learned from this report.
    std::optional<int64_t> probeFrom() const;
    // The probe from `from` was written; the next two reports tell.
    void probed(int64_t from);
    bool probing() const { return m_probe.has_value(); }
    // The stream moved to another sink: learn it anew.
    void forget();

private:
    int64_t aheadAtMost() const;

    double m_rate;
    int64_t m_guard;
    int64_t m_expectedAhead;
    int64_t m_minAhead;
    int64_t m_written = 0;
    ServerReport m_last;
    int64_t m_ahead = 0;          // the most the sink was seen to read ahead of what is heard
    int m_seen = 0;               // reports of the stream playing
    TakeBack m_takeBack = TakeBack::Unknown;
    struct Probe {
        int64_t from, readBefore;
        int replies = 0;
    };
    std::optional<Probe> m_probe;
    int m_vainProbes = 0;
};

} // namespace md
