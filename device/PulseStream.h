#pragma once

#include "OutputTimeline.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace md {

// One playback stream on the desktop's sound server (PulseAudio, or PipeWire's PulseAudio
// server), through libpulse's asynchronous API on a thread of its own; libpulse is loaded the
// first time, like FluidSynth. It only carries requests to the server and what the server
// says back; what to write is the owner's business (PulseOutput).
//
// Everything but open(), lost() and the constructor and destructor is called with the loop
// locked: from the listener's callbacks, which run on the loop's thread, or between lock()
// and unlock().
class PulseStream {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void fill() = 0;                    // the server wants audio, or fill(true) asked
        virtual void timing(const ServerReport& report, uint64_t ticket) = 0;
        virtual void ranDry() = 0;                  // all that was written has been played
        virtual void corkRequested(bool cork) = 0;  // the server's policy: a call, module-role-cork
        virtual void moved() = 0;                   // to another sink
        virtual void alarm() = 0;                   // the moment setAlarm() named
    };

    using Clock = std::chrono::steady_clock;

    explicit PulseStream(Listener& listener);
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Connects and makes the stream, corked, asking for `targetMs` queued and requests of
    // `requestMs`; "" or why it could not, within a couple of seconds.
    std::string open(double rate, int channels, double targetMs, double requestMs, int prebufFrames);
    // Why the stream is gone for good, or "".
    std::string lost() const;

    void lock();
    void unlock();
    // Waits until the loop signals (a report, a loss) or `timeout` passes.
    void wait(std::chrono::milliseconds timeout);

    // Frames the server would take now.
    int64_t writable() const;
    // Sends `frames` interleaved frames to be played at stream frame `at`.
    void write(const float* data, int frames, int64_t at);
    // Asks where the server reads; returns the ticket the answer will carry, or one more than
    // it if an earlier question is still out (the answer to that comes first, then this one).
    uint64_t askTiming();
    void cork(bool cork);
    // fill() is called repeatedly while this is on.
    void fill(bool on);
    // alarm() is called at `when`, unless another setAlarm() or clearAlarm() comes first.
    void setAlarm(Clock::time_point when);
    void clearAlarm();
    // How far the sink is asked to read ahead of what is heard: its share of the queue.
    int64_t sinkShare() const { return m_sinkShare; }

    struct Impl;

private:
    std::unique_ptr<Impl> d;
    bool m_corked = true;
    int64_t m_sinkShare = 0;
};

} // namespace md
