#include "PulseOutput.h"

#include "OutputTimeline.h"
#include "PulseStream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace md {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kChannels = 2;
// Audio queued ahead of what is heard (the server splits it between the stream's buffer and
// the sink's), and how much the server asks for at a time: the player wakes about every
// kRequestMs, the server less often still.
constexpr double kTargetMs = 200;
constexpr double kRequestMs = 40;
// Audio is rendered and written in pieces of at most this many frames, so that the source is
// not held for long; a rewrite's first piece is shorter still, to reach the server at once.
constexpr int kSlice = 1024;
constexpr int kFirstSlice = 512;
// New sound begins this far after where the sink may be: time for its first piece to be
// rendered and to reach the server.
constexpr double kGuardMs = 10;
// ...and fades from the audio that was there to the new over this long.
constexpr double kFadeMs = 6;
// What is written before a stream starts when how far its sink reads ahead is not known yet.
constexpr double kStartMs = 400;
// How long a stream about to start waits for the device to follow on from an end it would
// otherwise read past at once: more than one of the window's polls.
constexpr auto kFollowWait = 80ms;
// A piece held at its end goes on with its release this long before the sink would run out.
constexpr auto kEndMargin = 20ms;
// Until the server has said where it plays, the end of a piece counts as heard this long
// after it was rendered.
constexpr auto kEndHeardAtMost = 500ms;
// A command waits at most this long for the server's answer to the one before.
constexpr auto kPlacingWait = 200ms;
// While the output does not know whether its sink takes audio back, it asks at most this often,
// and gives up after this many questions (a sink that never reads far enough ahead to tell).
constexpr auto kLearnEvery = 150ms;
constexpr int kLearnAsks = 40;
// What was written is kept this long for fades and probes: more than is ever queued.
constexpr int kRingFrames = 1 << 17;

class PulseOutput final : public AudioOutput, PulseStream::Listener {
public:
    PulseOutput(AudioSource& source, double rate)
        : m_source(source), m_rate(rate),
          m_timeline(rate, frames(kGuardMs), 0),
          m_fade(std::clamp<int64_t>(frames(kFadeMs), 1, kFirstSlice)),
          m_ring(size_t(kRingFrames) * kChannels), m_left(kSlice), m_right(kSlice),
          m_out(size_t(kSlice) * kChannels), m_stream(*this)
    {
    }

    // A piece that ends leaves the rest of its pull silent, so that the next pass can follow
    // on the frame after the end.
    bool holdsAtEnd() const override { return true; }

    std::string open()
    {
        std::string why = m_stream.open(m_rate, kChannels, kTargetMs, kRequestMs, kFirstSlice);
        if (why.empty()) {
            m_stream.lock();
            m_timeline = OutputTimeline(m_rate, frames(kGuardMs), m_stream.sinkShare());
            m_ready = true;
            m_stream.unlock();
        }
        return why;
    }

    void wake() override
    {
        m_stream.lock();
        if (usable()) {
            if (m_feed == Feed::Silent && m_sleeping) {
                place(Place::Resume);
            } else if (m_feed == Feed::Silent) {
                m_feed = Feed::Pulling;
                m_stream.fill(true);
            } else if (m_feed == Feed::AtEnd) {
                m_woken = true;
                goOnFromEnd();
            }
        }
        m_stream.unlock();
    }

    void hold() override
    {
        m_stream.lock();
        // A command waits for the one before it to be placed: a Pause's cursor goes back to
        // what was heard before a Play that follows it at once starts from there.
        const auto until = Clock::now() + kPlacingWait;
        while (m_feed == Feed::Placing && usable() && Clock::now() < until)
            m_stream.wait(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()) + 1ms);
        ++m_commands;
        m_stream.unlock();
    }

    void discard() override
    {
        m_stream.lock();
        m_commands = std::max(0, m_commands - 1);
        // A stream asleep for want of sound holds nothing worth rewriting; one woken meanwhile
        // is placed where the server reads anyway.
        if (usable() && !(m_sleeping && m_feed == Feed::Silent) && m_place != Place::Resume)
            place(Place::Discard);
        else if (usable() && m_feed == Feed::Placing && m_commands == 0)
            m_stream.askTiming();
        m_stream.unlock();
    }

    void follow() override
    {
        m_stream.lock();
        if (m_feed == Feed::AtEnd) {
            m_commands = std::max(0, m_commands - 1);
            m_followed = true;
            goOnFromEnd();
            m_stream.unlock();
            return;
        }
        // Too late to go on from the end: the release was written after it. The new sound
        // still begins no earlier than the end, which is heard whole.
        m_notBefore = m_lastEnd;
        m_stream.unlock();
        discard();
    }

    std::string lost() const override { return m_stream.lost(); }

    Clock::time_point endHeardAt() const override
    {
        return Clock::time_point(Clock::duration(m_endHeard.load(std::memory_order_relaxed)));
    }

private:
    // What the output asks of its source.
    enum class Feed {
        Silent,    // nothing sounds: nothing is asked for, the queue plays out, the stream sleeps
        Pulling,   // audio is rendered as the server asks for it
        Placing,   // a command changed what sounds: waiting to learn where the new sound goes
        AtEnd,     // the piece ended by itself at m_end: waiting for the device to follow on
    };
    enum class Place { None, Discard, Resume };

    int64_t frames(double ms) const { return std::llround(ms * m_rate / 1000.0); }
    bool usable() const { return m_ready && m_stream.lost().empty(); }

    // --- with the loop locked ---

    void place(Place kind)
    {
        m_feed = Feed::Placing;
        m_place = kind;
        m_startWaited = false;
        m_followed = m_woken = false;
        m_stream.clearAlarm();
        m_stream.fill(false);
        m_placeTicket = m_stream.askTiming();
    }

    // The device followed on from the end and woke the output: the next pass is written on
    // the frame after the end, after what is queued.
    void goOnFromEnd()
    {
        if (!m_followed || !m_woken || m_commands > 0)
            return;
        m_followed = m_woken = false;
        m_stream.clearAlarm();
        m_feed = Feed::Pulling;
        if (m_sleeping)
            startStream();
        m_stream.fill(true);
    }

    void fill() override
    {
        const int64_t wanted = usable() && m_feed == Feed::Pulling && m_commands == 0 ? m_stream.writable() : 0;
        if (wanted > 0 && m_timeline.takesBack() == OutputTimeline::TakeBack::Unknown && m_learnAsks < kLearnAsks
            && Clock::now() - m_lastAsked > kLearnEvery) {
            m_lastAsked = Clock::now();
            ++m_learnAsks;
            m_stream.askTiming();
        }
        m_stream.fill(wanted > 0 && pullSlice(int(std::min<int64_t>(wanted, kSlice))));
    }

    // Renders and writes up to n frames; false once there is nothing more to ask for.
    bool pullSlice(int n)
    {
        const Rendered got = render(n, m_timeline.written());
        if (!got.sounding) {
            m_feed = Feed::Silent;   // when the last of it has played, the stream sleeps
            return false;
        }
        write(m_timeline.written(), got.frames);
        return m_feed == Feed::Pulling;
    }

    void timing(const ServerReport& report, uint64_t ticket) override
    {
        m_timeline.report(report);
        if (m_end >= 0) {
            m_endHeard.store(m_timeline.heardAt(m_end).time_since_epoch().count(), std::memory_order_relaxed);
            if (m_feed == Feed::AtEnd && !m_sleeping)
                m_stream.setAlarm(m_timeline.lastMomentFor(m_end, kEndMargin));
            m_end = -1;
        }
        if (m_feed == Feed::Placing && ticket >= m_placeTicket && m_commands == 0 && usable())
            placeNow();
        else if (m_feed == Feed::Pulling && m_commands == 0 && usable())
            learn();
    }

    void ranDry() override
    {
        if (m_feed == Feed::Silent && !m_sleeping) {
            m_sleeping = true;
            applyCork();
        }
    }

    void corkRequested(bool cork) override
    {
        m_policyCork = cork;
        applyCork();
    }

    // A request to cork made on the old sink has no end on the new one; and the new sink may
    // take back differently.
    void moved() override
    {
        m_policyCork = false;
        applyCork();
        m_timeline.forget();
        m_learnAsks = 0;
    }

    // The last moment to go on from the end without a gap: the release that follows it.
    void alarm() override
    {
        if (m_feed != Feed::AtEnd)
            return;
        m_followed = m_woken = false;
        m_feed = Feed::Pulling;
        if (m_sleeping)
            startStream();
        m_stream.fill(true);
    }

    void applyCork() { m_stream.cork(m_sleeping || m_policyCork); }

    // Rewrites identical audio where the timeline asks, to learn whether the sink takes back.
    void learn()
    {
        if (m_timeline.probing()) {
            m_stream.askTiming();
            return;
        }
        const auto from = m_timeline.probeFrom();
        if (!from)
            return;
        const int64_t end = m_timeline.written();
        for (int64_t at = *from; at < end;) {
            const int n = int(std::min<int64_t>(kSlice, end - at));
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < kChannels; ++c)
                    m_out[size_t(kChannels * i + c)] = m_ring[ringAt(at + i) + size_t(c)];
            m_stream.write(m_out.data(), n, at);
            at += n;
        }
        m_timeline.probed(*from);
        m_stream.askTiming();
    }

    // The server said where it reads: the new sound of a command goes there.
    void placeNow()
    {
        const Place kind = m_place;
        m_place = Place::None;
        const int64_t notBefore = std::exchange(m_notBefore, -1);
        m_feed = Feed::Pulling;
        const ServerReport& last = m_timeline.last();
        const int64_t written = m_timeline.written();
        if (kind == Place::Resume) {
            // Asleep, the stream played out all it had: the new sound starts where the server
            // reads next, after as much silence as its sink holds: a sink that takes back does
            // so when a stream starts, and the first of it would be lost.
            std::fill_n(m_out.begin(), size_t(kSlice) * kChannels, 0.0f);
            write(last.readIndex, int(std::clamp<int64_t>(last.sinkDelay, 0, kSlice)));
            rewrite(m_timeline.written());
            startStream();
        } else if (const int64_t at = std::max(notBefore, m_sleeping ? last.readIndex : m_timeline.newSoundAt());
                   at < written) {
            // (A stream that has not started yet has played nothing of what it holds.)
            m_source.unheard(m_timeline.unheardFrom(at));
            rewrite(at);
            if (m_sleeping && m_feed != Feed::Silent)
                startStream();
        } else if (written < last.readIndex) {
            m_timeline.wrote(at, 0);   // the stream ran dry: what is written next is in time
        }
        if (m_feed == Feed::Pulling)
            m_stream.fill(true);
    }

    // Starts a sleeping stream. A sink that reads far ahead (a pipe, a Bluetooth headset)
    // takes that much at once when it starts: it is all written first, or the sink would play
    // silence in the middle of it (until a report has shown how far, kStartMs). When the piece
    // ends within that, the sink would read past the end at once: the stream waits for the
    // device to follow on, at most kFollowWait.
    void startStream()
    {
        const int64_t until = m_timeline.last().readIndex
            + (m_timeline.ahead() > 0 ? m_timeline.ahead() + frames(kRequestMs) : frames(kStartMs));
        while (m_timeline.written() < until && m_feed == Feed::Pulling
               && pullSlice(int(std::min<int64_t>(kSlice, until - m_timeline.written())))) {
        }
        if (m_feed == Feed::AtEnd && !m_startWaited
            && m_timeline.lastMomentFor(m_timeline.written(), kEndMargin) < Clock::now()) {
            m_startWaited = true;
            m_stream.setAlarm(Clock::now() + kFollowWait);
            return;
        }
        m_startWaited = false;
        m_sleeping = false;
        applyCork();
    }

    struct Rendered {
        bool sounding;
        int frames;   // how many to write: fewer when the piece ended in them
    };

    // Renders n frames into m_out for stream frame `at`.
    Rendered render(int n, int64_t at)
    {
        std::fill_n(m_left.begin(), n, 0.0f);
        std::fill_n(m_right.begin(), n, 0.0f);
        Rendered got{m_source.pull(m_left.data(), m_right.data(), n), n};
        if (const int end = m_source.pieceEndedAt(); end >= 0) {
            // The piece ended by itself: hold there until the device follows on or the last
            // moment to go on with the release comes.
            got = {true, end};
            m_end = m_lastEnd = at + end;
            m_feed = Feed::AtEnd;
            m_followed = m_woken = false;
            m_endHeard.store((Clock::now() + kEndHeardAtMost).time_since_epoch().count(), std::memory_order_relaxed);
            m_stream.fill(false);
            m_stream.askTiming();
        }
        for (int i = 0; i < n; ++i) {
            m_out[size_t(2 * i)] = m_left[size_t(i)];
            m_out[size_t(2 * i + 1)] = m_right[size_t(i)];
        }
        return got;
    }

    size_t ringAt(int64_t frame) const { return size_t(frame & (kRingFrames - 1)) * kChannels; }

    // Sends m_out's n frames to be played at frame `at`, and keeps them.
    void write(int64_t at, int n)
    {
        for (int i = 0; i < n; ++i)
            std::copy_n(m_out.begin() + 2 * i, kChannels, m_ring.begin() + std::ptrdiff_t(ringAt(at + i)));
        if (n > 0)
            m_stream.write(m_out.data(), n, at);
        m_timeline.wrote(at, n);
    }

    // Replaces what was queued from frame `at` on with what the source renders now, fading
    // over from the old audio. The rest of the old audio is overwritten as the server asks.
    void rewrite(int64_t at)
    {
        const int64_t queuedEnd = m_timeline.written();
        at = std::max(at, queuedEnd - kRingFrames + m_fade);
        const Rendered got = render(kFirstSlice, at);
        // The old audio fades out; the new begins whole, so a note that starts there keeps its
        // attack.
        for (int64_t i = 0; i < m_fade && i < got.frames && at + i < queuedEnd; ++i) {
            const float g = float(0.5 + 0.5 * std::cos(std::numbers::pi * double(i) / double(m_fade)));
            for (int c = 0; c < kChannels; ++c)
                m_out[size_t(2 * i + c)] += m_ring[ringAt(at + i) + size_t(c)] * g;
        }
        write(at, got.frames);
        if (got.sounding)
            return;
        // Nothing sounds from here on: silence the rest of what was queued, and let the
        // stream drain and sleep.
        std::fill(m_out.begin(), m_out.end(), 0.0f);
        while (m_timeline.written() < queuedEnd)
            write(m_timeline.written(), int(std::min<int64_t>(kSlice, queuedEnd - m_timeline.written())));
        m_feed = Feed::Silent;
    }

    AudioSource& m_source;
    const double m_rate;

    // Guarded by the loop's lock.
    OutputTimeline m_timeline;
    const int64_t m_fade;
    bool m_ready = false;
    Feed m_feed = Feed::Silent;
    Place m_place = Place::None;
    uint64_t m_placeTicket = 0;   // the answer placing waits for
    int m_commands = 0;           // under way: hold() not yet followed by discard() or follow()
    bool m_followed = false;      // at the end: the device followed on...
    bool m_woken = false;         // ...and woke the output
    bool m_sleeping = true;       // corked for want of sound
    bool m_startWaited = false;   // starting, it waited for the device to follow on
    bool m_policyCork = false;    // corked at the server's request
    int64_t m_end = -1;           // where a piece ended, until the server says when it is heard
    int64_t m_lastEnd = -1;       // where the piece last ended by itself
    int64_t m_notBefore = -1;     // where the placing under way may begin at the earliest
    Clock::time_point m_lastAsked{};
    std::vector<float> m_ring;    // what was written, interleaved, by frame modulo its size
    std::vector<float> m_left, m_right, m_out;

    std::atomic<Clock::rep> m_endHeard{0};   // endHeardAt(), read from the device's thread
    int m_learnAsks = 0;          // questions asked to learn whether the sink takes back
    // Last, so that it goes first: its loop's thread calls into everything above.
    PulseStream m_stream;
};

} // namespace

std::unique_ptr<AudioOutput> openPulseOutput(AudioSource& source, double sampleRate,
                                             std::string& error)
{
    auto output = std::make_unique<PulseOutput>(source, sampleRate);
    if (std::string why = output->open(); !why.empty()) {
        error = std::move(why);
        return nullptr;
    }
    return output;
}

} // namespace md
