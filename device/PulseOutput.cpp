#include "PulseOutput.h"

#include "SharedLibrary.h"

#include <pulse/pulseaudio.h>

#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <vector>

namespace md {

namespace {

// The libpulse functions the output uses, looked up when the first output is opened, as
// FluidSynth's are (FluidApi.h): the program starts without mapping the library.
#define MD_PULSE_FUNCTIONS(X) \
    X(pa_context_connect) \
    X(pa_context_disconnect) \
    X(pa_context_errno) \
    X(pa_context_get_server_info) \
    X(pa_context_get_state) \
    X(pa_context_new_with_proplist) \
    X(pa_context_set_state_callback) \
    X(pa_context_unref) \
    X(pa_operation_unref) \
    X(pa_proplist_free) \
    X(pa_proplist_new) \
    X(pa_proplist_sets) \
    X(pa_stream_connect_playback) \
    X(pa_stream_cork) \
    X(pa_stream_disconnect) \
    X(pa_stream_get_state) \
    X(pa_stream_get_timing_info) \
    X(pa_stream_is_suspended) \
    X(pa_stream_new_with_proplist) \
    X(pa_stream_set_event_callback) \
    X(pa_stream_set_state_callback) \
    X(pa_stream_set_underflow_callback) \
    X(pa_stream_set_write_callback) \
    X(pa_stream_unref) \
    X(pa_stream_update_timing_info) \
    X(pa_stream_writable_size) \
    X(pa_stream_write) \
    X(pa_strerror) \
    X(pa_threaded_mainloop_free) \
    X(pa_threaded_mainloop_get_api) \
    X(pa_threaded_mainloop_lock) \
    X(pa_threaded_mainloop_new) \
    X(pa_threaded_mainloop_signal) \
    X(pa_threaded_mainloop_start) \
    X(pa_threaded_mainloop_stop) \
    X(pa_threaded_mainloop_unlock) \
    X(pa_threaded_mainloop_wait)

struct PulseApi {
#define MD_PULSE_POINTER(name) decltype(&::name) name = nullptr;
    MD_PULSE_FUNCTIONS(MD_PULSE_POINTER)
#undef MD_PULSE_POINTER
    std::string error;   // why the library cannot be used; empty when every pointer is set
};

const PulseApi& pulse()
{
    static const PulseApi api = loadSharedLibrary<PulseApi>(
        MELLOWDECK_PULSE_SONAME, "libpulse", "", [](PulseApi& a, const auto& find) {
#define MD_PULSE_RESOLVE(name) a.name = reinterpret_cast<decltype(&::name)>(find(#name));
            MD_PULSE_FUNCTIONS(MD_PULSE_RESOLVE)
#undef MD_PULSE_RESOLVE
        });
    return api;
}

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 2;
constexpr size_t kFrameBytes = kChannels * sizeof(float);
// Audio queued ahead of what is heard (the server splits it between the stream's buffer and
// the sound card's), and how much the server asks for at a time: the player wakes about
// every kRequestMs, the server less often still.
constexpr double kTargetMs = 200;
constexpr double kRequestMs = 40;
// Audio is rendered and written in pieces of at most this many frames, so that the source is
// not held for long; a rewrite's first piece is shorter still, to reach the server at once.
constexpr int kSlice = 1024;
constexpr int kFirstSlice = 512;
// A rewrite begins this far ahead of what is being heard: time for its first piece to be
// rendered and for the server to take back what the sound card has not yet played.
constexpr double kGuardMs = 6;
// ...and fades from the audio that was there to the new over this long.
constexpr double kFadeMs = 6;
// Until the server has said where it plays, the end of a piece counts as heard this long
// after it was rendered: more than is ever queued.
constexpr auto kEndHeardAtMost = std::chrono::milliseconds(500);
// What was written is kept this long for those fades; more than is ever queued.
constexpr int kRingFrames = 1 << 17;
// How long the server may take to answer at all.
constexpr int kConnectTimeoutS = 2;

class PulseOutput final : public AudioOutput {
public:
    PulseOutput(AudioSource& source, double rate)
        : m_source(source), m_rate(rate),
          m_guard(frames(kGuardMs)), m_fade(std::clamp<int64_t>(frames(kFadeMs), 1, kFirstSlice)),
          m_ring(size_t(kRingFrames) * kChannels), m_left(kSlice), m_right(kSlice),
          m_out(size_t(kSlice) * kChannels)
    {
    }

    ~PulseOutput() override
    {
        // Once the loop's thread has ended, nothing runs callbacks: the rest needs no lock.
        if (m_loop)
            pa.pa_threaded_mainloop_stop(m_loop);
        if (m_fill)
            m_api->defer_free(m_fill);
        if (m_stream) {
            pa.pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa.pa_stream_disconnect(m_stream);
            pa.pa_stream_unref(m_stream);
        }
        if (m_context) {
            pa.pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa.pa_context_disconnect(m_context);
            pa.pa_context_unref(m_context);
        }
        if (m_loop)
            pa.pa_threaded_mainloop_free(m_loop);
    }

    // Connects and makes the stream, corked; "" or why it could not.
    std::string open()
    {
        m_loop = pa.pa_threaded_mainloop_new();
        if (!m_loop)
            return "cannot make libpulse's main loop";
        m_api = pa.pa_threaded_mainloop_get_api(m_loop);
        pa_proplist* props = pa.pa_proplist_new();
        pa.pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Mellowdeck");
        pa.pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "io.github.mellowdeck.Mellowdeck");
        pa.pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "mellowdeck");
        m_context = pa.pa_context_new_with_proplist(m_api, "Mellowdeck", props);
        pa.pa_proplist_free(props);
        if (!m_context)
            return "cannot make a libpulse context";
        pa.pa_context_set_state_callback(m_context, &PulseOutput::contextChanged, this);
        if (pa.pa_context_connect(m_context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
            return pa.pa_strerror(pa.pa_context_errno(m_context));
        if (pa.pa_threaded_mainloop_start(m_loop) < 0)
            return "cannot start libpulse's main loop";

        pa.pa_threaded_mainloop_lock(m_loop);
        std::string why = connectLocked();
        if (why.empty())
            m_ready = true;
        pa.pa_threaded_mainloop_unlock(m_loop);
        return why;
    }

    void wake() override
    {
        pa.pa_threaded_mainloop_lock(m_loop);
        if (usable() && m_idle) {
            m_idle = false;
            if (m_corked) {
                m_resume = true;   // written and uncorked once the read index is known
                askTiming();
            } else {
                m_api->defer_enable(m_fill, 1);
            }
        }
        pa.pa_threaded_mainloop_unlock(m_loop);
    }

    void hold() override
    {
        pa.pa_threaded_mainloop_lock(m_loop);
        ++m_holds;
        pa.pa_threaded_mainloop_unlock(m_loop);
    }

    void discard() override
    {
        pa.pa_threaded_mainloop_lock(m_loop);
        m_holds = std::max(0, m_holds - 1);
        // A stream corked for want of sound holds nothing worth rewriting.
        if (usable() && (!m_corked || m_resume)) {
            m_discard = true;
            askTiming();
            m_discard = m_timingAsked;
        }
        if (!renderingHeld() && !m_idle)
            m_api->defer_enable(m_fill, 1);
        pa.pa_threaded_mainloop_unlock(m_loop);
    }

    std::string lost() const override
    {
        std::lock_guard guard(m_lostLock);
        return m_lost;
    }

    Clock::time_point endHeardAt() const override
    {
        return Clock::time_point(Clock::duration(m_endHeard.load(std::memory_order_relaxed)));
    }

private:
    int64_t frames(double ms) const { return std::llround(ms * m_rate / 1000.0); }
    int64_t usecFrames(pa_usec_t usec) const { return frames(double(usec) / 1000.0); }
    uint32_t bytes(double ms) const { return uint32_t(frames(ms)) * kFrameBytes; }

    bool usable() const { return m_ready && lost().empty(); }
    // Nothing is rendered while a command changes what sounds and until its discard has
    // rewritten the queue, so that the new sound is rendered from its beginning, in its place.
    bool renderingHeld() const { return m_holds > 0 || m_discard || m_resume; }

    void setLost(std::string why)
    {
        std::lock_guard guard(m_lostLock);
        if (m_lost.empty())
            m_lost = std::move(why);
    }

    std::string contextError() const { return pa.pa_strerror(pa.pa_context_errno(m_context)); }

    // With the loop locked: waits for the context, then for a corked stream; "" or why not.
    std::string connectLocked()
    {
        timeval deadline{};
        gettimeofday(&deadline, nullptr);
        deadline.tv_sec += kConnectTimeoutS;
        pa_time_event* timer = m_api->time_new(m_api, &deadline, &PulseOutput::timedOut, this);
        std::string why = connectStreamLocked();
        m_api->time_free(timer);
        return why;
    }

    // Waits on the loop until `state()` is `ready`; "" then, or why not.
    template <class State, class Good>
    std::string waitUntil(State state, decltype(state()) ready, Good good)
    {
        for (auto now = state(); now != ready; now = state()) {
            if (!good(now))
                return contextError();
            if (m_timedOut)
                return "the sound server did not answer";
            pa.pa_threaded_mainloop_wait(m_loop);
        }
        return {};
    }

    std::string connectStreamLocked()
    {
        if (std::string why = waitUntil([this] { return pa.pa_context_get_state(m_context); },
                                        PA_CONTEXT_READY, PA_CONTEXT_IS_GOOD);
            !why.empty())
            return why;

        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(std::lround(m_rate)), kChannels};
        pa_proplist* props = pa.pa_proplist_new();
        // Lets the server's policy (a phone call corking music) know what this is.
        pa.pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_stream = pa.pa_stream_new_with_proplist(m_context, "Mellowdeck", &format, nullptr, props);
        pa.pa_proplist_free(props);
        if (!m_stream)
            return contextError();
        pa.pa_stream_set_state_callback(m_stream, &PulseOutput::streamChanged, this);
        pa.pa_stream_set_write_callback(m_stream, &PulseOutput::writeRequested, this);
        pa.pa_stream_set_underflow_callback(m_stream, &PulseOutput::underflowed, this);
        pa.pa_stream_set_event_callback(m_stream, &PulseOutput::serverEvent, this);
        m_fill = m_api->defer_new(m_api, &PulseOutput::fillDeferred, this);
        m_api->defer_enable(m_fill, 0);

        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.tlength = bytes(kTargetMs);
        // Playing starts as soon as a first piece is there.
        attr.prebuf = uint32_t(kFirstSlice) * kFrameBytes;
        attr.minreq = bytes(kRequestMs);
        attr.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        m_corked = m_streamCorked = m_idle = true;
        if (pa.pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return contextError();
        if (std::string why = waitUntil([this] { return pa.pa_stream_get_state(m_stream); },
                                        PA_STREAM_READY, PA_STREAM_IS_GOOD);
            !why.empty())
            return why;

        // PulseAudio takes back what its sink has read but not yet played when a stream
        // rewrites it. Other servers (PipeWire's) are not counted on to: there rewrites
        // begin after what the server has read.
        pa_operation* info = pa.pa_context_get_server_info(m_context, &PulseOutput::serverInfo, this);
        if (info) {
            while (!m_serverKnown && !m_timedOut && PA_CONTEXT_IS_GOOD(pa.pa_context_get_state(m_context)))
                pa.pa_threaded_mainloop_wait(m_loop);
            pa.pa_operation_unref(info);
        }
        return {};
    }

    // --- on the loop's thread, with the loop locked ---

    static void timedOut(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        o->m_timedOut = true;
        o->pa.pa_threaded_mainloop_signal(o->m_loop, 0);
    }

    static void contextChanged(pa_context* context, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        if (o->m_ready && !PA_CONTEXT_IS_GOOD(o->pa.pa_context_get_state(context)))
            o->setLost("the sound server went away (" + o->contextError() + ")");
        o->pa.pa_threaded_mainloop_signal(o->m_loop, 0);
    }

    static void streamChanged(pa_stream* stream, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        if (o->m_ready && !PA_STREAM_IS_GOOD(o->pa.pa_stream_get_state(stream)))
            o->setLost("the sound server ended Mellowdeck's stream (" + o->contextError() + ")");
        o->pa.pa_threaded_mainloop_signal(o->m_loop, 0);
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        o->m_rewinds = info && info->server_name && std::strcmp(info->server_name, "pulseaudio") == 0;
        o->m_serverKnown = true;
        o->pa.pa_threaded_mainloop_signal(o->m_loop, 0);
    }

    static void writeRequested(pa_stream*, size_t, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        if (!o->m_idle && !o->renderingHeld())
            o->m_api->defer_enable(o->m_fill, 1);
    }

    // What was queued has been played. If nothing has sounded since, let the stream go.
    static void underflowed(pa_stream*, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        if (o->m_idle && !o->m_corked) {
            o->m_corked = true;
            o->applyCork();
        }
    }

    // A policy of the server (a phone call, module-role-cork) asks music to pause, and later
    // to go on.
    static void serverEvent(pa_stream*, const char* name, pa_proplist*, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_CORK) == 0)
            o->m_held = true;
        else if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_UNCORK) == 0)
            o->m_held = false;
        o->applyCork();
    }

    void applyCork()
    {
        const bool cork = m_corked || m_held;
        if (cork == m_streamCorked)
            return;
        m_streamCorked = cork;
        if (pa_operation* op = pa.pa_stream_cork(m_stream, cork ? 1 : 0, nullptr, nullptr))
            pa.pa_operation_unref(op);
    }

    void askTiming()
    {
        if (m_timingAsked)
            return;
        if (pa_operation* op = pa.pa_stream_update_timing_info(m_stream, &PulseOutput::timingKnown, this)) {
            m_timingAsked = true;
            pa.pa_operation_unref(op);
        }
    }

    // Writes one piece of what the server has asked for; stays enabled while it wants more.
    static void fillDeferred(pa_mainloop_api*, pa_defer_event*, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        size_t wanted = 0;
        if (o->usable() && !o->m_idle && !o->renderingHeld()) {
            const size_t writable = o->pa.pa_stream_writable_size(o->m_stream);
            if (writable != size_t(-1))
                wanted = writable / kFrameBytes;
        }
        if (wanted == 0) {
            o->m_api->defer_enable(o->m_fill, 0);
            return;
        }
        const int n = int(std::min<size_t>(wanted, kSlice));
        if (!o->render(n, o->m_written)) {
            o->m_idle = true;   // the underflow that follows the last of it corks the stream
            o->m_api->defer_enable(o->m_fill, 0);
            return;
        }
        o->write(o->m_written, n);
    }

    // The server said where it reads: when the end of a piece will be heard; resume, or
    // rewrite what a command has overtaken.
    static void timingKnown(pa_stream*, int success, void* self)
    {
        auto* o = static_cast<PulseOutput*>(self);
        o->m_timingAsked = false;
        const pa_timing_info* t = success ? o->pa.pa_stream_get_timing_info(o->m_stream) : nullptr;
        if (t && o->m_endAt >= 0) {
            const auto untilEnd = std::chrono::duration<double>(double(o->m_endAt - o->heard(t)) / o->m_rate);
            o->m_endHeard.store((Clock::now() + std::chrono::duration_cast<Clock::duration>(untilEnd))
                                    .time_since_epoch().count(), std::memory_order_relaxed);
            o->m_endAt = -1;
        }
        if (o->m_holds > 0)
            return;   // a command is under way: its discard asks again
        if (o->usable())
            o->placeNewSound(t);
        if (!o->m_idle)
            o->m_api->defer_enable(o->m_fill, 1);
    }

    // What is being heard: the server's read index less what its sink holds.
    int64_t heard(const pa_timing_info* t) const
    {
        int64_t frame = t->read_index / int64_t(kFrameBytes);
        if (t->playing && !m_streamCorked && !pa.pa_stream_is_suspended(m_stream))
            frame += usecFrames(t->transport_usec) - usecFrames(t->sink_usec);
        return frame;
    }

    void placeNewSound(const pa_timing_info* t)
    {
        const int64_t read = t ? t->read_index / int64_t(kFrameBytes) : m_written;
        if (m_resume) {
            // Corked, nothing is heard: start where the server will read, over whatever the
            // sink gave back when it was corked.
            m_resume = m_discard = false;
            rewrite(std::min(read, m_written));
            m_corked = false;
            applyCork();
            return;
        }
        if (!m_discard)
            return;
        m_discard = false;
        int64_t at = (t ? heard(t) : read) + m_guard;
        if (!m_rewinds)
            at = std::max(at, read + m_guard);
        if (at < m_written) {
            m_source.unheard(m_written - at);
            rewrite(at);
        }
    }

    // Renders n frames into m_out; false if the source had nothing to sound.
    bool render(int n, int64_t at)
    {
        std::fill_n(m_left.begin(), n, 0.0f);
        std::fill_n(m_right.begin(), n, 0.0f);
        const bool sounding = m_source.pull(m_left.data(), m_right.data(), n);
        if (const int end = m_source.pieceEndedAt(); end >= 0) {
            m_endAt = at + end;
            m_endHeard.store((Clock::now() + kEndHeardAtMost).time_since_epoch().count(),
                             std::memory_order_relaxed);
            askTiming();
        }
        for (int i = 0; i < n; ++i) {
            m_out[2 * i] = m_left[i];
            m_out[2 * i + 1] = m_right[i];
        }
        return sounding;
    }

    // Sends m_out's n frames to be played at frame `at`, and keeps them.
    void write(int64_t at, int n)
    {
        for (int i = 0; i < n; ++i) {
            const size_t r = size_t((at + i) & (kRingFrames - 1)) * kChannels;
            m_ring[r] = m_out[2 * i];
            m_ring[r + 1] = m_out[2 * i + 1];
        }
        pa.pa_stream_write(m_stream, m_out.data(), size_t(n) * kFrameBytes, nullptr,
                           at * int64_t(kFrameBytes), PA_SEEK_ABSOLUTE);
        m_written = at + n;
    }

    // Replaces what was queued from frame `at` on with what the source renders now, fading
    // over from the old audio. The rest of the old audio is overwritten as the server asks.
    void rewrite(int64_t at)
    {
        const int64_t queuedEnd = m_written;
        at = std::max(at, queuedEnd - kRingFrames + m_fade);
        const bool sounding = render(kFirstSlice, at);
        for (int64_t i = 0; i < m_fade && at + i < queuedEnd; ++i) {
            const float g = float(0.5 - 0.5 * std::cos(std::numbers::pi * double(i) / double(m_fade)));
            const size_t r = size_t((at + i) & (kRingFrames - 1)) * kChannels;
            for (int c = 0; c < kChannels; ++c)
                m_out[2 * i + c] = m_ring[r + c] * (1.0f - g) + m_out[2 * i + c] * g;
        }
        write(at, kFirstSlice);
        if (sounding)
            return;
        // Nothing sounds from here on: silence the rest of what was queued, and let the
        // stream drain and be corked.
        std::fill(m_out.begin(), m_out.end(), 0.0f);
        while (m_written < queuedEnd)
            write(m_written, int(std::min<int64_t>(kSlice, queuedEnd - m_written)));
        m_idle = true;
    }

    const PulseApi& pa = pulse();
    AudioSource& m_source;
    const double m_rate;
    const int64_t m_guard;
    const int64_t m_fade;

    pa_threaded_mainloop* m_loop = nullptr;
    pa_mainloop_api* m_api = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_defer_event* m_fill = nullptr;

    // Guarded by the loop's lock.
    bool m_ready = false;         // connected; failures from now on are losses
    bool m_timedOut = false;
    bool m_serverKnown = false;
    bool m_rewinds = true;        // the server takes back what its sink has read
    int64_t m_written = 0;        // the frame after the last one written
    bool m_idle = true;           // the source has nothing to sound; nothing written since
    bool m_corked = true;         // corked by us for want of sound
    bool m_held = false;          // corked at the server's request
    bool m_streamCorked = true;   // what the server was last told
    bool m_resume = false;        // woken while corked: waiting for the read index
    bool m_discard = false;       // a discard waits for the read index
    int m_holds = 0;              // commands under way: hold() not yet followed by discard()
    bool m_timingAsked = false;
    int64_t m_endAt = -1;         // where a piece ended by itself, until the server says when
                                  // it will be heard
    std::vector<float> m_ring;    // what was written, interleaved, by frame modulo its size
    std::vector<float> m_left, m_right, m_out;

    std::atomic<Clock::rep> m_endHeard{0};   // endHeardAt(), read from the device's thread
    mutable std::mutex m_lostLock;
    std::string m_lost;
};

} // namespace

std::unique_ptr<AudioOutput> openPulseOutput(AudioSource& source, double sampleRate,
                                             std::string& error)
{
    if (!pulse().error.empty()) {
        error = pulse().error;
        return nullptr;
    }
    auto output = std::make_unique<PulseOutput>(source, sampleRate);
    if (std::string why = output->open(); !why.empty()) {
        error = std::move(why);
        return nullptr;
    }
    return output;
}

} // namespace md
