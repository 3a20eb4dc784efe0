#include "PulseStream.h"

#include "SharedLibrary.h"

#include <pulse/pulseaudio.h>

#include <sys/time.h>

#include <cmath>
#include <cstring>

namespace md {

namespace {

// The libpulse functions the stream uses, looked up when the first stream is opened, as
// FluidSynth's are (FluidApi.h): the program starts without mapping the library.
#define MD_PULSE_FUNCTIONS(X) \
    X(pa_context_connect) \
    X(pa_context_disconnect) \
    X(pa_context_errno) \
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
    X(pa_stream_get_buffer_attr) \
    X(pa_stream_get_state) \
    X(pa_stream_get_timing_info) \
    X(pa_stream_is_suspended) \
    X(pa_stream_new_with_proplist) \
    X(pa_stream_set_event_callback) \
    X(pa_stream_set_moved_callback) \
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

// How long the server may take to answer at all.
constexpr auto kConnectTimeout = std::chrono::seconds(2);

// The wall-clock time of libpulse's timers for a moment of the steady clock.
timeval wallTime(std::chrono::steady_clock::time_point when)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    const auto in = std::chrono::duration_cast<std::chrono::microseconds>(when - std::chrono::steady_clock::now());
    const int64_t usec = int64_t(now.tv_sec) * 1000000 + now.tv_usec + std::max<int64_t>(0, in.count());
    return timeval{time_t(usec / 1000000), suseconds_t(usec % 1000000)};
}

} // namespace

struct PulseStream::Impl {
    const PulseApi& pa = pulse();
    Listener& listener;
    PulseStream& owner;
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_defer_event* filling = nullptr;
    pa_time_event* alarm = nullptr;
    double rate = 0;
    size_t frameBytes = 0;
    bool ready = false;       // connected; failures from now on are losses
    bool timedOut = false;
    uint64_t asked = 0;       // the last ticket given
    uint64_t inFlight = 0;    // the ticket of the question out, 0 if none
    mutable std::mutex lostLock;
    std::string lostWhy;

    Impl(Listener& l, PulseStream& o) : listener(l), owner(o) {}

    std::string contextError() const { return pa.pa_strerror(pa.pa_context_errno(context)); }
    void setLost(std::string why)
    {
        std::lock_guard guard(lostLock);
        if (lostWhy.empty())
            lostWhy = std::move(why);
    }
    int64_t frames(pa_usec_t usec) const { return std::llround(double(usec) * rate / 1e6); }

    // Waits on the loop until `state()` is `ready`; "" then, or why not.
    template <class State, class Good>
    std::string waitUntil(State state, decltype(state()) want, Good good)
    {
        for (auto now = state(); now != want; now = state()) {
            if (!good(now))
                return contextError();
            if (timedOut)
                return "the sound server did not answer";
            pa.pa_threaded_mainloop_wait(loop);
        }
        return {};
    }

    void send()
    {
        if (pa_operation* op = pa.pa_stream_update_timing_info(stream, &Impl::timingKnown, this)) {
            inFlight = asked;
            pa.pa_operation_unref(op);
        }
    }

    // --- on the loop's thread, with the loop locked ---

    static void timedOutCb(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        d->timedOut = true;
        d->pa.pa_threaded_mainloop_signal(d->loop, 0);
    }
    static void alarmCb(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        d->api->time_free(d->alarm);
        d->alarm = nullptr;
        d->listener.alarm();
    }
    static void contextChanged(pa_context* context, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (d->ready && !PA_CONTEXT_IS_GOOD(d->pa.pa_context_get_state(context)))
            d->setLost("the sound server went away (" + d->contextError() + ")");
        d->pa.pa_threaded_mainloop_signal(d->loop, 0);
    }
    static void streamChanged(pa_stream* stream, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (d->ready && !PA_STREAM_IS_GOOD(d->pa.pa_stream_get_state(stream)))
            d->setLost("the sound server ended Mellowdeck's stream (" + d->contextError() + ")");
        d->pa.pa_threaded_mainloop_signal(d->loop, 0);
    }
    static void writeRequested(pa_stream*, size_t, void* self) { static_cast<Impl*>(self)->listener.fill(); }
    static void fillDeferred(pa_mainloop_api*, pa_defer_event*, void* self) { static_cast<Impl*>(self)->listener.fill(); }
    static void underflowed(pa_stream*, void* self) { static_cast<Impl*>(self)->listener.ranDry(); }
    static void movedCb(pa_stream*, void* self) { static_cast<Impl*>(self)->listener.moved(); }
    static void serverEvent(pa_stream*, const char* name, pa_proplist*, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_CORK) == 0)
            d->listener.corkRequested(true);
        else if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_UNCORK) == 0)
            d->listener.corkRequested(false);
    }
    static void timingKnown(pa_stream*, int success, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        const uint64_t ticket = d->inFlight;
        d->inFlight = 0;
        if (d->asked > ticket)
            d->send();   // a question came meanwhile: its answer must be newer than this one
        const pa_timing_info* t = success ? d->pa.pa_stream_get_timing_info(d->stream) : nullptr;
        if (!t) {
            d->pa.pa_threaded_mainloop_signal(d->loop, 0);
            return;
        }
        ServerReport r;
        r.readIndex = t->read_index / int64_t(d->frameBytes);
        r.sinkDelay = d->frames(t->sink_usec);
        r.transport = d->frames(t->transport_usec);
        r.sinceUnderrun = t->since_underrun / int64_t(d->frameBytes);
        r.running = t->playing && !d->owner.m_corked && !d->pa.pa_stream_is_suspended(d->stream);
        r.at = Clock::now();
        d->listener.timing(r, ticket);
        d->pa.pa_threaded_mainloop_signal(d->loop, 0);
    }
};

PulseStream::PulseStream(Listener& listener) : d(std::make_unique<Impl>(listener, *this)) {}

PulseStream::~PulseStream()
{
    const PulseApi& pa = d->pa;
    // Once the loop's thread has ended, nothing runs callbacks: the rest needs no lock.
    if (d->loop)
        pa.pa_threaded_mainloop_stop(d->loop);
    if (d->filling)
        d->api->defer_free(d->filling);
    if (d->alarm)
        d->api->time_free(d->alarm);
    if (d->stream) {
        pa.pa_stream_set_state_callback(d->stream, nullptr, nullptr);
        pa.pa_stream_disconnect(d->stream);
        pa.pa_stream_unref(d->stream);
    }
    if (d->context) {
        pa.pa_context_set_state_callback(d->context, nullptr, nullptr);
        pa.pa_context_disconnect(d->context);
        pa.pa_context_unref(d->context);
    }
    if (d->loop)
        pa.pa_threaded_mainloop_free(d->loop);
}

std::string PulseStream::open(double rate, int channels, double targetMs, double requestMs, int prebufFrames)
{
    if (!pulse().error.empty())
        return pulse().error;
    const PulseApi& pa = d->pa;
    d->rate = rate;
    d->frameBytes = size_t(channels) * sizeof(float);
    d->loop = pa.pa_threaded_mainloop_new();
    if (!d->loop)
        return "cannot make libpulse's main loop";
    d->api = pa.pa_threaded_mainloop_get_api(d->loop);
    pa_proplist* props = pa.pa_proplist_new();
    pa.pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Mellowdeck");
    pa.pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "io.github.mellowdeck.Mellowdeck");
    pa.pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "mellowdeck");
    d->context = pa.pa_context_new_with_proplist(d->api, "Mellowdeck", props);
    pa.pa_proplist_free(props);
    if (!d->context)
        return "cannot make a libpulse context";
    pa.pa_context_set_state_callback(d->context, &Impl::contextChanged, d.get());
    if (pa.pa_context_connect(d->context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
        return d->contextError();
    if (pa.pa_threaded_mainloop_start(d->loop) < 0)
        return "cannot start libpulse's main loop";

    lock();
    const timeval deadline = wallTime(Clock::now() + kConnectTimeout);
    pa_time_event* timer = d->api->time_new(d->api, &deadline, &Impl::timedOutCb, d.get());
    std::string why = d->waitUntil([this] { return d->pa.pa_context_get_state(d->context); },
                                   PA_CONTEXT_READY, PA_CONTEXT_IS_GOOD);
    if (why.empty()) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(std::lround(rate)), uint8_t(channels)};
        props = pa.pa_proplist_new();
        // Lets the server's policy (a phone call corking music) know what this is.
        pa.pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        d->stream = pa.pa_stream_new_with_proplist(d->context, "Mellowdeck", &format, nullptr, props);
        pa.pa_proplist_free(props);
        if (!d->stream)
            why = d->contextError();
    }
    if (why.empty()) {
        pa.pa_stream_set_state_callback(d->stream, &Impl::streamChanged, d.get());
        pa.pa_stream_set_write_callback(d->stream, &Impl::writeRequested, d.get());
        pa.pa_stream_set_underflow_callback(d->stream, &Impl::underflowed, d.get());
        pa.pa_stream_set_event_callback(d->stream, &Impl::serverEvent, d.get());
        pa.pa_stream_set_moved_callback(d->stream, &Impl::movedCb, d.get());
        d->filling = d->api->defer_new(d->api, &Impl::fillDeferred, d.get());
        d->api->defer_enable(d->filling, 0);
        const auto bytes = [&](double ms) { return uint32_t(std::lround(ms * rate / 1000.0)) * uint32_t(d->frameBytes); };
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.tlength = bytes(targetMs);
        attr.prebuf = uint32_t(prebufFrames) * uint32_t(d->frameBytes);
        attr.minreq = bytes(requestMs);
        attr.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        if (pa.pa_stream_connect_playback(d->stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
            why = d->contextError();
        else
            why = d->waitUntil([this] { return d->pa.pa_stream_get_state(d->stream); }, PA_STREAM_READY,
                               PA_STREAM_IS_GOOD);
    }
    if (why.empty()) {
        // With PA_STREAM_ADJUST_LATENCY the server gives its sink half of the queue less two
        // requests; a sink of fixed latency takes more, and the reports tell.
        if (const pa_buffer_attr* got = pa.pa_stream_get_buffer_attr(d->stream); got && got->tlength > 2 * got->minreq)
            m_sinkShare = int64_t((got->tlength - 2 * got->minreq) / 2 / d->frameBytes);
        d->ready = true;
    }
    d->api->time_free(timer);
    unlock();
    return why;
}

std::string PulseStream::lost() const
{
    std::lock_guard guard(d->lostLock);
    return d->lostWhy;
}

void PulseStream::lock() { d->pa.pa_threaded_mainloop_lock(d->loop); }
void PulseStream::unlock() { d->pa.pa_threaded_mainloop_unlock(d->loop); }

void PulseStream::wait(std::chrono::milliseconds timeout)
{
    const timeval when = wallTime(Clock::now() + timeout);
    pa_time_event* timer = d->api->time_new(d->api, &when, &Impl::timedOutCb, d.get());
    d->pa.pa_threaded_mainloop_wait(d->loop);
    d->api->time_free(timer);
    d->timedOut = false;
}

int64_t PulseStream::writable() const
{
    const size_t n = d->pa.pa_stream_writable_size(d->stream);
    return n == size_t(-1) ? 0 : int64_t(n / d->frameBytes);
}

void PulseStream::write(const float* data, int frames, int64_t at)
{
    d->pa.pa_stream_write(d->stream, data, size_t(frames) * d->frameBytes, nullptr,
                          at * int64_t(d->frameBytes), PA_SEEK_ABSOLUTE);
}

uint64_t PulseStream::askTiming()
{
    ++d->asked;
    if (!d->inFlight)
        d->send();
    return d->asked;
}

void PulseStream::cork(bool cork)
{
    if (cork == m_corked)
        return;
    m_corked = cork;
    if (pa_operation* op = d->pa.pa_stream_cork(d->stream, cork ? 1 : 0, nullptr, nullptr))
        d->pa.pa_operation_unref(op);
}

void PulseStream::fill(bool on) { d->api->defer_enable(d->filling, on ? 1 : 0); }

void PulseStream::setAlarm(Clock::time_point when)
{
    const timeval at = wallTime(when);
    if (d->alarm)
        d->api->time_restart(d->alarm, &at);
    else
        d->alarm = d->api->time_new(d->api, &at, &Impl::alarmCb, d.get());
}

void PulseStream::clearAlarm()
{
    if (d->alarm)
        d->api->time_free(d->alarm);
    d->alarm = nullptr;
}

} // namespace md
