#include "SynthDevice.h"

#include "FluidApi.h"

#include "MidiFile.h"
#include "Sequencer.h"
#include "SoundFont.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace md {

namespace {

constexpr int kChannels = 16;
constexpr int kDrumChannel = 9;
// Channels beyond the piece's 16 that only hold a preset each, so that its samples stay
// loaded (see preloadPresets); FluidSynth takes channel counts in steps of 16.
constexpr int kSynthChannels = 256;
constexpr int kDrumBank = 128;
// FluidSynth renders in blocks of 64 frames and carries what the events of a block do to
// its voices through a queue of fixed size. A burst of hundreds of notes at one instant
// would overflow it and leave voices that never end, so events are spread out: at most
// this many per block.
constexpr int kSynthBlock = 64;
constexpr int kMaxEventsPerBlock = 128;
// After the last voice ends, reverb and chorus still ring: keep rendering this long.
constexpr double kEffectsTailSeconds = 1.5;
// Output drivers tried in turn; PipeWire desktops serve the PulseAudio one.
constexpr std::array kDrivers{"pulseaudio", "alsa"};

// What the synthesizer holds for a channel before any piece has touched it.
struct ChannelDefaults {
    std::array<int, 128> cc{};
    int sfont = 0, bank = 0, program = 0;
};

bool isDataEntryOrParameter(int cc)
{
    return cc == 6 || cc == 38 || (cc >= 96 && cc <= 101);
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

const std::string kOutputLost = "the audio output stopped working (was the device removed?); "
                                "open the file again to retry";

} // namespace

// What the audio driver's thread calls back into. It outlives the device when an output
// has to be abandoned: a driver whose thread is stuck in the sound system cannot be
// deleted without waiting for it, so it is handed to a thread of its own to finish, and
// the link stops reaching the device.
struct OutputLink {
    std::mutex lock;
    SynthDevice::Impl* device = nullptr;   // null once abandoned
    std::atomic<int64_t> lastCallbackMs{0};
};

struct SynthDevice::Impl {
    SynthOptions options;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    OutputLink* link = nullptr;                      // with `driver`
    std::once_flag preparing;
    std::shared_future<std::string> soundFontLoad;   // empty string: loaded; set by prepare()
    std::array<ChannelDefaults, kChannels> defaults{};
    bool defaultsTaken = false;
    int soundFontId = -1;
    int heldPresets = 0;   // holder channels in use, from kChannels on

    // Everything below is shared with the audio callback and guarded by `lock`.
    mutable std::mutex lock;
    Sequencer sequencer;
    Mode mode = Mode::NotOpen;
    bool resetBeforePlay = false;   // channels must be set to the position's state first
    int64_t tailFrames = 0;         // frames still to render after the last voice ended
    int64_t synthFrames = 0;        // frames the synthesizer has rendered, for its block grid
    int eventsThisBlock = 0;        // events sent since the synthesizer last began a block
    std::array<int, kChannels> pressure{};   // channel pressure last sent (no getter for it)
    std::string error;
    bool outputLost = false;        // the device was closed because its output died

    // --- called with `lock` held ---
    void releaseAll()
    {
        // Sustain and sostenuto off first: a note held by a pedal ignores note-off.
        for (int ch = 0; ch < kChannels; ++ch) {
            fl().fluid_synth_cc(synth, ch, 64, 0);
            fl().fluid_synth_cc(synth, ch, 66, 0);
        }
        fl().fluid_synth_all_notes_off(synth, -1);
        tailFrames = static_cast<int64_t>(options.sampleRate * kEffectsTailSeconds);
    }

    void send(const MidiEvent& e)
    {
        const int ch = e.status & 0x0F;
        switch (e.status & 0xF0) {
        case 0x80: fl().fluid_synth_noteoff(synth, ch, e.data1); break;
        case 0x90:
            if (e.data2 == 0)
                fl().fluid_synth_noteoff(synth, ch, e.data1);
            else
                fl().fluid_synth_noteon(synth, ch, e.data1, e.data2);
            break;
        case 0xA0: fl().fluid_synth_key_pressure(synth, ch, e.data1, e.data2); break;
        case 0xB0: fl().fluid_synth_cc(synth, ch, e.data1, e.data2); break;
        case 0xC0: fl().fluid_synth_program_change(synth, ch, e.data1); break;
        case 0xD0:
            fl().fluid_synth_channel_pressure(synth, ch, e.data1);
            pressure[static_cast<std::size_t>(ch)] = e.data1;
            break;
        case 0xE0: fl().fluid_synth_pitch_bend(synth, ch, (e.data2 << 7) | e.data1); break;
        case 0xF0: sendSysex(e.sysex); break;
        default: break;
        }
    }

    void sendSysex(uint32_t index)
    {
        const Song& song = *sequencer.song();
        if (index >= song.sysex.size() || song.sysex[index].empty())
            return;
        const auto& body = song.sysex[index];
        fl().fluid_synth_sysex(synth, reinterpret_cast<const char*>(body.data()),
                          static_cast<int>(body.size()), nullptr, nullptr, nullptr, 0);
    }

    // Puts every channel into the state the piece has at the cursor: the synthesizer's
    // defaults, then what the events before the cursor changed. Voices still releasing
    // are left alone, so nothing clicks; and only what differs is sent, since every
    // controller change reaches each of those voices.
    void resetChannelsToCursor()
    {
        const ChaseState state = sequencer.chase();
        for (uint32_t index : state.sysex)
            sendSysex(index);
        for (int ch = 0; ch < kChannels; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            const ChannelDefaults& d = defaults[c];
            const ChaseState::Channel& chased = state.channels[c];
            if (state.sysex.empty())
                fl().fluid_synth_set_channel_type(synth, ch, ch == kDrumChannel ? CHANNEL_TYPE_DRUM
                                                                           : CHANNEL_TYPE_MELODIC);
            auto setCc = [&](int cc) {
                const auto i = static_cast<std::size_t>(cc);
                const int wanted = chased.cc[i] >= 0 ? chased.cc[i] : d.cc[i];
                int now = -1;
                if (fl().fluid_synth_get_cc(synth, ch, cc, &now) != FLUID_OK || now != wanted)
                    fl().fluid_synth_cc(synth, ch, cc, wanted);
            };
            for (int cc = 0; cc < 120; ++cc) {
                // Pedals stay up: the notes they held are not sounding at the new position.
                if (!isDataEntryOrParameter(cc) && cc != 64 && cc != 66)
                    setCc(cc);
            }
            // Parameter numbers before the data they select.
            for (int cc : {99, 98, 101, 100, 6, 38}) {
                if (chased.cc[static_cast<std::size_t>(cc)] >= 0)
                    setCc(cc);
            }
            int sfont = 0, bank = 0, program = 0;
            fl().fluid_synth_get_program(synth, ch, &sfont, &bank, &program);
            if (chased.program >= 0)
                fl().fluid_synth_program_change(synth, ch, chased.program);
            else if (sfont != d.sfont || bank != d.bank || program != d.program)
                fl().fluid_synth_program_select(synth, ch, d.sfont, d.bank, d.program);
            const int bend = chased.pitchBend >= 0 ? chased.pitchBend : 8192;
            int nowBend = -1;
            if (fl().fluid_synth_get_pitch_bend(synth, ch, &nowBend) != FLUID_OK || nowBend != bend)
                fl().fluid_synth_pitch_bend(synth, ch, bend);
            int sens = -1;
            if (chased.cc[6] < 0
                && (fl().fluid_synth_get_pitch_wheel_sens(synth, ch, &sens) != FLUID_OK
                    || sens != 2))
                fl().fluid_synth_pitch_wheel_sens(synth, ch, 2);
            const int wantedPressure = chased.pressure >= 0 ? chased.pressure : 0;
            if (pressure[c] != wantedPressure) {
                fl().fluid_synth_channel_pressure(synth, ch, wantedPressure);
                pressure[c] = wantedPressure;
            }
        }
    }

    void takeDefaults()
    {
        for (int ch = 0; ch < kChannels; ++ch) {
            ChannelDefaults& d = defaults[static_cast<std::size_t>(ch)];
            for (int cc = 0; cc < 128; ++cc)
                fl().fluid_synth_get_cc(synth, ch, cc, &d.cc[static_cast<std::size_t>(cc)]);
            fl().fluid_synth_get_program(synth, ch, &d.sfont, &d.bank, &d.program);
        }
        defaultsTaken = true;
    }

    // Renders `frames` frames into the `count` buffers of `out` (already zeroed),
    // sending each event at its frame. The caller holds `lock`.
    void renderLocked(int count, float** out, int frames)
    {
        const bool playing = mode == Mode::Playing;
        if (!playing) {
            if (fl().fluid_synth_get_active_voice_count(synth) > 0) {
                tailFrames = static_cast<int64_t>(options.sampleRate * kEffectsTailSeconds);
            } else if (tailFrames <= 0) {
                return;   // silence costs nothing while stopped
            }
            tailFrames -= frames;
        }
        std::array<float*, 8> chunkOut{};
        count = std::min<int>(count, static_cast<int>(chunkOut.size()));
        int done = 0;
        while (done < frames) {
            int chunk = frames - done;
            if (mode == Mode::Playing) {
                const bool more = sequencer.dispatchDue(
                    [this](const MidiEvent& e) {
                        send(e);
                        ++eventsThisBlock;
                    },
                    static_cast<std::size_t>(std::max(0, kMaxEventsPerBlock - eventsThisBlock)));
                if (more) {
                    // The rest waits for the synthesizer's next block.
                    const int intoBlock = static_cast<int>(synthFrames % kSynthBlock);
                    chunk = std::min(chunk, intoBlock == 0 ? 1 : kSynthBlock - intoBlock);
                } else if (sequencer.atEnd()) {
                    mode = Mode::Stopped;
                    releaseAll();
                } else {
                    chunk = static_cast<int>(sequencer.framesUntilNext(chunk));
                }
            }
            for (int i = 0; i < count; ++i)
                chunkOut[static_cast<std::size_t>(i)] = out[i] + done;
            // The outputs double as effects buffers, so reverb and chorus are mixed in.
            fl().fluid_synth_process(synth, chunk, count, chunkOut.data(), count, chunkOut.data());
            // A block began in this chunk if it started on the grid or crossed it: the
            // events sent so far have reached their voices.
            if (synthFrames % kSynthBlock == 0 || synthFrames % kSynthBlock + chunk > kSynthBlock)
                eventsThisBlock = 0;
            synthFrames += chunk;
            if (mode == Mode::Playing)
                sequencer.advance(chunk);
            done += chunk;
        }
    }

    static int audioCallback(void* data, int len, int /*nfx*/, float** /*fx*/, int nout, float** out)
    {
        auto* link = static_cast<OutputLink*>(data);
        link->lastCallbackMs.store(nowMs(), std::memory_order_relaxed);
        std::lock_guard linkGuard(link->lock);
        if (Impl* self = link->device) {
            std::lock_guard guard(self->lock);
            self->renderLocked(nout, out, len);
        }
        return FLUID_OK;
    }

    // Lets go of the output. A healthy driver is deleted at once; one whose thread has
    // stopped calling back may be stuck in the sound system, so it is deleted by a
    // thread of its own, and never touches this device again.
    void dropOutput(bool stuck)
    {
        if (!driver)
            return;
        {
            std::lock_guard linkGuard(link->lock);
            link->device = nullptr;
        }
        fluid_audio_driver_t* old = driver;
        OutputLink* oldLink = link;
        driver = nullptr;
        link = nullptr;
        auto finish = [old, oldLink] {
            fl().delete_fluid_audio_driver(old);
            delete oldLink;
        };
        if (stuck)
            std::thread(finish).detach();
        else
            finish();
    }

    // True when the output has not called back for longer than it may: the device was
    // removed, the sound server went away, or the driver gave up.
    bool outputStalled() const
    {
        return driver && options.outputStallMs > 0
            && nowMs() - link->lastCallbackMs.load(std::memory_order_relaxed) > options.outputStallMs;
    }

    // Samples are loaded only for presets some channel has selected, and loaded by the
    // thread that selects them: for the piece's own program changes that would be the
    // audio thread, reading the disk mid-piece. So at open, on the caller's thread, each
    // preset the piece may ask for is selected on a spare channel that keeps it loaded.
    void preloadPresets(const Song& song)
    {
        std::vector<std::pair<int, int>> wanted;   // (bank, program)
        auto want = [&](int bank, int program) {
            if (std::find(wanted.begin(), wanted.end(), std::pair{bank, program}) == wanted.end())
                wanted.emplace_back(bank, program);
        };
        for (const ChannelDefaults& d : defaults)
            want(d.bank, d.program);
        std::array<int, kChannels> bankOf{};
        for (const MidiEvent& e : song.events) {
            const int ch = e.status & 0x0F;
            if ((e.status & 0xF0) == 0xB0 && e.data1 == 0) {
                bankOf[static_cast<std::size_t>(ch)] = e.data2;
            } else if ((e.status & 0xF0) == 0xC0) {
                if (ch == kDrumChannel) {
                    want(kDrumBank, e.data1);
                    want(kDrumBank, 0);   // where FluidSynth falls back to
                } else {
                    want(bankOf[static_cast<std::size_t>(ch)], e.data1);
                    want(0, e.data1);
                }
            }
        }
        int held = 0;
        for (const auto& [bank, program] : wanted) {
            if (kChannels + held >= kSynthChannels)
                break;
            const int holder = kChannels + held;
            if (fl().fluid_synth_program_select(synth, holder, soundFontId, bank, program)
                == FLUID_OK)
                ++held;
        }
        // Let go of what the last piece held only now, so shared samples stay loaded.
        for (int ch = kChannels + held; ch < kChannels + heldPresets; ++ch)
            fl().fluid_synth_unset_program(synth, ch);
        heldPresets = held;
    }

    void prepare();
    bool prepared() const
    {
        return soundFontLoad.valid()
            && soundFontLoad.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    // Waits for the SoundFont loaded in the background (starting that if nobody has);
    // returns an error or "".
    std::string soundFontError()
    {
        prepare();
        return soundFontLoad.get();
    }

    std::string openOutput()
    {
        if (!options.realtime || driver)
            return {};
        fl().fluid_settings_setint(settings, "audio.period-size", 128);
        fl().fluid_settings_setint(settings, "audio.periods", 3);
        auto* newLink = new OutputLink;
        newLink->device = this;
        newLink->lastCallbackMs = nowMs();
        for (const char* name : kDrivers) {
            fl().fluid_settings_setstr(settings, "audio.driver", name);
            driver = fl().new_fluid_audio_driver2(settings, &Impl::audioCallback, newLink);
            if (driver) {
                link = newLink;
                return {};
            }
        }
        delete newLink;
        return "no audio output device could be opened (tried PulseAudio and ALSA)";
    }

    bool fail(std::string message)
    {
        error = std::move(message);
        return false;
    }

    bool failNotOpen() { return fail(outputLost ? kOutputLost : "no device is open"); }

    // Prev, Next and the seek buttons: release what sounds, move the cursor (clamped to
    // the piece) and stop there; the next Play sets the channels for that position.
    bool moveTo(int64_t frame)
    {
        std::lock_guard guard(lock);
        if (mode == Mode::NotOpen)
            return failNotOpen();
        releaseAll();
        sequencer.seek(frame);
        resetBeforePlay = true;
        mode = Mode::Stopped;
        return true;
    }
};

SynthDevice::SynthDevice(SynthOptions options)
    : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    if (!d->options.prepareLater)
        d->prepare();
}

void SynthDevice::prepare()
{
    d->prepare();
}

void SynthDevice::Impl::prepare()
{
    std::call_once(preparing, [this] {
        // Creating the synthesizer takes milliseconds and a large SoundFont most of a
        // second: both happen in the background so the window appears at once; the first
        // open (and anything else that touches the synthesizer) waits for them.
        std::string path = options.soundFont.empty() ? findSoundFont() : options.soundFont;
        soundFontLoad = std::async(std::launch::async, [this, path]() -> std::string {
            if (!fl().error.empty())
                return fl().error;
            // Failures reach the user through errorMessage(); FluidSynth's own log would
            // only repeat them on stderr in its words.
            static const bool quiet = [] {
                for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
                    fl().fluid_set_log_function(level, nullptr, nullptr);
                return true;
            }();
            (void)quiet;
            settings = fl().new_fluid_settings();
            fl().fluid_settings_setnum(settings, "synth.sample-rate", options.sampleRate);
            fl().fluid_settings_setint(settings, "synth.threadsafe-api", 1);
            // FluidSynth's default gain of 0.2 plays General MIDI files some 18 dB below
            // full scale; 0.4 is closer to other players and still leaves a dense piece
            // headroom.
            fl().fluid_settings_setnum(settings, "synth.gain", 0.4);
            // Load a preset's samples when a channel selects it, not every sample of the
            // SoundFont at start-up: FluidR3_GM keeps about 140 MB of samples resident
            // otherwise.
            fl().fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
            fl().fluid_settings_setint(settings, "synth.midi-channels", kSynthChannels);
            synth = settings ? fl().new_fluid_synth(settings) : nullptr;
            if (!synth)
                return "the synthesizer could not be created";
            if (path.empty())
                return missingSoundFontMessage();
            soundFontId = fl().fluid_synth_sfload(synth, path.c_str(), 1);
            if (soundFontId == FLUID_FAILED)
                return "cannot load the SoundFont " + path + "; " + missingSoundFontMessage();
            // Only the piece's channels start with a preset; the holders get theirs at
            // open.
            for (int ch = kChannels; ch < kSynthChannels; ++ch)
                fl().fluid_synth_unset_program(synth, ch);
            takeDefaults();
            return {};
        }).share();
    });
}

SynthDevice::~SynthDevice()
{
    d->dropOutput(d->outputStalled());
    if (d->soundFontLoad.valid())
        d->soundFontLoad.wait();
    if (d->synth)
        fl().delete_fluid_synth(d->synth);
    if (d->settings)
        fl().delete_fluid_settings(d->settings);
}

bool SynthDevice::open(const std::string& path)
{
    close();
    if (d->outputStalled())
        d->dropOutput(true);   // a new output is tried below
    if (std::string problem = d->soundFontError(); !problem.empty())
        return d->fail(std::move(problem));

    LoadResult loaded = loadMidiFile(path);
    if (!loaded.song)
        return d->fail(std::move(loaded.error));
    auto song = std::make_shared<const Song>(std::move(*loaded.song));

    if (std::string problem = d->openOutput(); !problem.empty())
        return d->fail(std::move(problem));
    d->preloadPresets(*song);

    Sequencer prepared;
    prepared.load(std::move(song), d->options.sampleRate);
    std::lock_guard guard(d->lock);
    std::swap(d->sequencer, prepared);
    d->mode = Mode::Stopped;
    d->resetBeforePlay = true;
    d->error.clear();
    d->outputLost = false;
    return true;
}

bool SynthDevice::close()
{
    std::shared_ptr<const Song> old;   // freed after the lock is let go
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->failNotOpen();
    if (d->synth && d->defaultsTaken)
        d->releaseAll();
    old = d->sequencer.song();
    d->sequencer.clear();
    d->mode = Mode::NotOpen;
    return true;
}

bool SynthDevice::play()
{
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->failNotOpen();
    if (d->mode == Mode::Playing)
        return true;
    if (d->resetBeforePlay) {
        d->resetChannelsToCursor();
        d->resetBeforePlay = false;
    }
    d->mode = Mode::Playing;
    return true;
}

bool SynthDevice::stop()
{
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->failNotOpen();
    d->releaseAll();
    d->mode = Mode::Stopped;
    return true;
}

bool SynthDevice::pause()
{
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->failNotOpen();
    if (d->mode == Mode::Playing) {
        d->releaseAll();
        d->mode = Mode::Paused;
    }
    return true;
}

bool SynthDevice::prev()
{
    return d->moveTo(0);
}

bool SynthDevice::next()
{
    return d->moveTo(INT64_MAX);   // the sequencer stops at the end
}

bool SynthDevice::seek(int64_t ms)
{
    const double frame = static_cast<double>(std::max<int64_t>(ms, 0)) * d->options.sampleRate / 1000.0;
    return d->moveTo(static_cast<int64_t>(std::min(frame, 9.0e18)));
}

Mode SynthDevice::mode() const
{
    // The mode is asked for regularly while the window runs; that is where a dead
    // output is noticed, and the device closed with a message that says so.
    if (d->outputStalled()) {
        d->dropOutput(true);
        std::lock_guard guard(d->lock);
        if (d->mode != Mode::NotOpen) {
            d->releaseAll();
            d->sequencer.clear();
            d->mode = Mode::NotOpen;
        }
        d->error = kOutputLost;
        d->outputLost = true;
        std::fprintf(stderr, "mellowdeck: %s\n", kOutputLost.c_str());
        return Mode::NotOpen;
    }
    std::lock_guard guard(d->lock);
    return d->mode;
}

int64_t SynthDevice::positionMs() const
{
    return static_cast<int64_t>(static_cast<double>(positionFrames()) * 1000.0 / d->options.sampleRate);
}

int64_t SynthDevice::lengthMs() const
{
    return static_cast<int64_t>(static_cast<double>(lengthFrames()) * 1000.0 / d->options.sampleRate);
}

std::string SynthDevice::errorMessage() const
{
    std::lock_guard guard(d->lock);
    return d->error;
}

void SynthDevice::render(float* left, float* right, int frames)
{
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    (void)d->soundFontError();
    if (!d->synth)
        return;
    float* out[2] = {left, right};
    std::lock_guard guard(d->lock);
    d->renderLocked(2, out, frames);
}

double SynthDevice::sampleRate() const
{
    return d->options.sampleRate;
}

int64_t SynthDevice::positionFrames() const
{
    std::lock_guard guard(d->lock);
    return d->sequencer.position();
}

int64_t SynthDevice::lengthFrames() const
{
    std::lock_guard guard(d->lock);
    return d->sequencer.length();
}

int SynthDevice::activeVoices() const
{
    // No voice sounds before the synthesizer exists; do not wait for it to be made.
    if (!d->prepared())
        return 0;
    return d->synth ? fl().fluid_synth_get_active_voice_count(d->synth) : 0;
}

std::shared_ptr<const Song> SynthDevice::song() const
{
    std::lock_guard guard(d->lock);
    return d->sequencer.song();
}

} // namespace md
