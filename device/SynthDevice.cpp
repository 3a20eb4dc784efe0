#include "SynthDevice.h"

#include "ChannelSync.h"
#include "FluidApi.h"
#include "MidiFile.h"
#include "Sequencer.h"
#include "SoundFont.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace md {

namespace {

// FluidSynth renders in blocks of 64 frames and carries what the events of a block do to
// its voices through a queue of fixed size. A burst of hundreds of notes at one instant
// would overflow it and leave voices that never end, so events are spread out: at most
// this many per block.
constexpr int kSynthBlock = 64;
constexpr int kMaxEventsPerBlock = 128;
// After the last voice ends, reverb and chorus still ring: keep rendering this long, or
// until a whole block is below -100 dBFS. Then the output may let the sound card sleep.
constexpr double kEffectsTailSeconds = 1.5;
constexpr float kSilence = 1e-5f;
// A lost output is tried again at most this often, however often play is asked for.
constexpr auto kOutputRetry = std::chrono::seconds(1);

} // namespace

struct SynthDevice::Impl final : AudioSource {
    SynthOptions options;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    std::unique_ptr<ChannelSync> channels;   // made with the synthesizer
    std::once_flag preparing;
    std::shared_future<std::string> soundFontLoad;   // empty string: loaded; set by prepare()

    // A SoundFont in the synthesizer. Only the one the channels play with stays loaded.
    struct LoadedFont {
        int id = -1;
        std::string name;       // its path, or whose own bank it is
        bool piecesOwn = false; // the piece's bank, or the SoundFont beside the piece
        std::unique_ptr<MemoryFile> memory;   // the file a bank from inside a piece is read from
    };
    // These three belong to the thread that gives the commands. The audio thread learns
    // which SoundFont to play from `channels`, under `lock`.
    LoadedFont font;
    std::string runSoundFont;   // chosen for this run: dropped, given, $MELLOWDECK_SOUNDFONT or the system's
    std::string fontWarning;    // why a SoundFont the open piece brought is not used

    // The output is made, kept and let go on the thread that gives the commands, never
    // with `lock` held: its own thread may be waiting for `lock` inside pull().
    std::unique_ptr<AudioOutput> output;
    std::chrono::steady_clock::time_point lastOutputAttempt{};

    // Everything below is shared with the audio thread and guarded by `lock`.
    mutable std::mutex lock;
    Sequencer sequencer;
    MidiState live;                 // what the piece has set so far, as the synthesizer holds it
    Mode mode = Mode::NotOpen;
    bool resetBeforePlay = false;   // channels must be set to the position's state first
    int64_t tailFrames = 0;         // frames still to render after the last voice ended
    int64_t synthFrames = 0;        // frames rendered for the output
    int64_t gridSkew = 0;           // frames the synthesizer rendered beyond those, for its block grid
    int eventsThisBlock = 0;        // events sent since the synthesizer last began a block
    int endedAt = -1;               // frame of the last pull at which the piece ended by itself
    bool endedByItself = false;     // stopped at the end with no command since
    bool rewoundAtEnd = false;      // Prev came after that end, and nothing else since
    bool alignPass = false;         // the pass now playing follows the end of the last one
    bool holdingAtEnd = false;      // the output holds at the end: see AudioOutput::holdsAtEnd
    int64_t endFrame = INT64_MAX;   // synthFrames where the piece last ended by itself
    int64_t passJoin = -1;          // synthFrames where the pass now playing followed the last one
    int64_t playedFrom = 0;         // where the cursor was put or play last began
    // The notes begun lately, so that those an output replaces unheard can be taken back.
    struct Onset {
        int64_t frame;
        int channel, key;
    };
    std::array<Onset, 1024> onsets{};
    std::size_t onsetCount = 0;     // ever recorded; the ring holds the latest
    std::string error;
    std::string outputError;

    // --- called with `lock` held ---
    void releaseAll()
    {
        channels->releaseAll(live);
        tailFrames = static_cast<int64_t>(options.sampleRate * kEffectsTailSeconds);
    }

    void send(const MidiEvent& e)
    {
        const Song& song = *sequencer.song();
        const int ch = e.status & 0x0F;
        switch (live.fold(e, song, channels->powerOn())) {
        case MidiState::Effect::Note:
            switch (e.status & 0xF0) {
            case 0x80: fl().fluid_synth_noteoff(synth, ch, e.data1); break;
            case 0x90:
                if (e.data2 == 0)
                    fl().fluid_synth_noteoff(synth, ch, e.data1);
                else if (fl().fluid_synth_noteon(synth, ch, e.data1, e.data2) == FLUID_OK)
                    onsets[onsetCount++ % onsets.size()] = {synthFrames, ch, e.data1};
                break;
            case 0xA0: fl().fluid_synth_key_pressure(synth, ch, e.data1, e.data2); break;
            case 0xB0: fl().fluid_synth_cc(synth, ch, e.data1, e.data2); break;
            default: break;
            }
            break;
        case MidiState::Effect::Channel: channels->sync(live, ch); break;
        case MidiState::Effect::Module: channels->syncAll(live); break;
        case MidiState::Effect::PassOn: channels->passOn(e, song); break;
        case MidiState::Effect::None: break;
        }
    }

    // Puts the synthesizer into the state the piece has at the cursor: power-on, then what
    // the events before the cursor set. Voices still releasing are left alone, so nothing
    // clicks, and only what differs is sent.
    void resetChannelsToCursor()
    {
        Chase chase = sequencer.chase(channels->powerOn());
        channels->undoPassedOn();
        for (std::size_t index : chase.passOn)
            channels->passOn(sequencer.song()->events[index], *sequencer.song());
        live = std::move(chase.state);
        channels->syncAll(live);
    }

    int gridPhase() const { return static_cast<int>((synthFrames + gridSkew) % kSynthBlock); }

    // FluidSynth starts what it is sent on its own 64-frame grid. A pass that follows the
    // end of the last one mid-block would start up to a block late, so the rest of that
    // block is rendered and dropped: the notes still releasing skip as much, and the new
    // pass starts on the frame after the end, its events on the grid as in the first pass.
    void alignToGrid()
    {
        const int rest = (kSynthBlock - gridPhase()) % kSynthBlock;
        if (rest == 0)
            return;
        std::array<float, kSynthBlock> dropped{};
        float* out[2] = {dropped.data(), dropped.data()};
        fl().fluid_synth_process(synth, rest, 2, out, 2, out);
        gridSkew += rest;
    }

    // Renders `frames` frames, sending each event at its frame; with `stopAtEnd` only up
    // to the end of the piece, if it ends by itself here. Returns the frames rendered, or
    // -1 when it rendered nothing because nothing sounds.
    int renderLocked(float* left, float* right, int frames, bool stopAtEnd)
    {
        const bool playing = mode == Mode::Playing;
        if (!playing) {
            if (fl().fluid_synth_get_active_voice_count(synth) > 0) {
                tailFrames = static_cast<int64_t>(options.sampleRate * kEffectsTailSeconds);
            } else if (tailFrames <= 0) {
                return -1;   // silence costs nothing while stopped
            }
            tailFrames -= frames;
        } else if (alignPass) {
            alignToGrid();
            alignPass = false;
        }
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
                    const int intoBlock = gridPhase();
                    chunk = std::min(chunk, intoBlock == 0 ? 1 : kSynthBlock - intoBlock);
                } else if (sequencer.atEnd()) {
                    mode = Mode::Stopped;
                    endedAt = done;
                    endedByItself = true;
                    endFrame = synthFrames;
                    releaseAll();
                    if (stopAtEnd)
                        return done;
                } else {
                    chunk = static_cast<int>(sequencer.framesUntilNext(chunk));
                }
            }
            float* out[2] = {left + done, right + done};
            // The outputs double as effects buffers, so reverb and chorus are mixed in.
            fl().fluid_synth_process(synth, chunk, 2, out, 2, out);
            // A block began in this chunk if it started on the grid or crossed it: the
            // events sent so far have reached their voices.
            if (gridPhase() == 0 || gridPhase() + chunk > kSynthBlock)
                eventsThisBlock = 0;
            synthFrames += chunk;
            if (mode == Mode::Playing)
                sequencer.advance(chunk);
            done += chunk;
        }
        if (!playing && fl().fluid_synth_get_active_voice_count(synth) == 0) {
            const auto quiet = [](float v) { return std::abs(v) < kSilence; };
            if (std::all_of(left, left + frames, quiet) && std::all_of(right, right + frames, quiet))
                tailFrames = 0;   // the effects have died away
        }
        return frames;
    }

    bool pull(float* left, float* right, int frames) override
    {
        std::lock_guard guard(lock);
        endedAt = -1;
        return synth && renderLocked(left, right, frames, holdingAtEnd) >= 0;
    }

    int pieceEndedAt() const override
    {
        std::lock_guard guard(lock);
        return endedAt;
    }

    void unheard(int64_t frames) override
    {
        std::lock_guard guard(lock);
        if (!synth)
            return;
        silenceNotesSince(synthFrames - frames);
        // Stopped or paused since: go on from what was heard, not from what was rendered.
        if (mode != Mode::Playing && sequencer.loaded()) {
            const int64_t from = synthFrames - frames;
            if (passJoin >= 0 && from < passJoin) {
                // What is taken back began before this pass followed the last one: the
                // listener is still in the last pass, and goes on from there.
                sequencer.seek(std::max<int64_t>(0, sequencer.length() - (passJoin - from)));
                resetBeforePlay = true;
                passJoin = -1;
                return;
            }
            // Frames rendered after the piece ended held none of it.
            const int64_t pastEnd = std::clamp<int64_t>(synthFrames - endFrame, 0, frames);
            const int64_t heard = std::max(playedFrom, sequencer.position() - (frames - pastEnd));
            if (heard < sequencer.position()) {
                sequencer.seek(heard);
                resetBeforePlay = true;
            }
        }
    }

    // Silences at once the notes begun at `frame` or later. A note is known by its channel
    // and key; the voices FluidSynth started last for them are its own.
    void silenceNotesSince(int64_t frame)
    {
        std::array<int, 16 * 128> begun{};
        bool any = false;
        for (std::size_t i = onsetCount; i > onsetCount - std::min(onsetCount, onsets.size()); --i) {
            const Onset& o = onsets[(i - 1) % onsets.size()];
            if (o.frame < frame)
                break;
            ++begun[std::size_t(o.channel * 128 + o.key)];
            any = true;
        }
        if (!any)
            return;
        std::vector<fluid_voice_t*> voices(std::size_t(fl().fluid_synth_get_polyphony(synth)) + 1);
        fl().fluid_synth_get_voicelist(synth, voices.data(), int(voices.size()), -1);
        std::erase_if(voices, [](fluid_voice_t* v) { return !v || !fl().fluid_voice_is_playing(v); });
        const auto note = [](fluid_voice_t* v) {
            return std::size_t(fl().fluid_voice_get_channel(v) * 128 + fl().fluid_voice_get_key(v));
        };
        // Newest first; a note's layers share its id.
        std::sort(voices.begin(), voices.end(),
                  [](fluid_voice_t* a, fluid_voice_t* b) { return fl().fluid_voice_get_id(a) > fl().fluid_voice_get_id(b); });
        std::array<unsigned, 16 * 128> lastId{};
        for (fluid_voice_t* v : voices) {
            const std::size_t n = note(v);
            if (n >= begun.size())
                continue;
            const unsigned id = fl().fluid_voice_get_id(v);
            if (lastId[n] != id && begun[n] > 0) {
                --begun[n];
                lastId[n] = id;
            }
            if (lastId[n] == id) {
                // The quietest a voice can be: it ends at once, as its level is below the
                // synthesizer's noise floor.
                fl().fluid_voice_gen_set(v, GEN_ATTENUATION, 1440.0f);
                fl().fluid_voice_update_param(v, GEN_ATTENUATION);
            }
        }
    }

    // Around a command that changes what sounds, with `lock` let go (the output's thread
    // may be waiting for it): the output renders nothing while the command changes the
    // state, then replaces what it has queued, or, when the command `follows` the end of
    // the piece, may go on after it.
    struct Discarding {
        explicit Discarding(AudioOutput* o, bool wake = false) : output(o), wakes(wake)
        {
            if (output)
                output->hold();
        }
        ~Discarding()
        {
            if (!output)
                return;
            if (wakes)
                output->wake();
            if (follows)
                output->follow();
            else
                output->discard();
        }
        Discarding(const Discarding&) = delete;
        Discarding& operator=(const Discarding&) = delete;
        AudioOutput* output;
        bool wakes;
        bool follows = false;
    };

    bool playing()
    {
        std::lock_guard guard(lock);
        return mode == Mode::Playing;
    }

    // The mode, or `asHeard`: a piece that ended by itself plays on until its end is heard.
    // An output that holds at the end is told the end at once, unless `asHeard`.
    Mode shownMode(bool asHeard)
    {
        // The mode is asked for regularly while the window runs; that is where a lost
        // output is noticed.
        noticeLostOutput();
        bool ending = false;
        Mode now = Mode::NotOpen;
        {
            std::lock_guard guard(lock);
            now = mode;
            ending = endedByItself && (asHeard || !holdingAtEnd);
        }
        if (ending && output && std::chrono::steady_clock::now() < output->endHeardAt())
            return Mode::Playing;
        return now;
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

    // Makes sure there is an output; returns why there is none.
    std::string ensureOutput()
    {
        if (!options.realtime || output)
            return {};
        std::string why;
        lastOutputAttempt = std::chrono::steady_clock::now();
        output = options.output
            ? options.output(*this, why)
            : openSystemOutput(*this, settings, options.sampleRate, options.outputStallMs, why);
        std::lock_guard guard(lock);
        holdingAtEnd = output && output->holdsAtEnd();
        return output ? std::string() : why;
    }

    // Lets go of an output that is gone for good, keeping the piece: it stops, and the
    // next play tries the output again.
    void noticeLostOutput()
    {
        if (!output)
            return;
        std::string why = output->lost();
        if (why.empty())
            return;
        output.reset();
        std::lock_guard guard(lock);
        holdingAtEnd = false;
        // A paused piece stays paused: only Play goes on from a pause, never a loop's restart.
        if (mode == Mode::Playing) {
            releaseAll();
            mode = Mode::Stopped;
        }
        if (mode != Mode::NotOpen)
            outputError = error = std::move(why);
    }

    // `givePresets`: FluidSynth gives every channel its preset from it, loading their samples.
    std::optional<LoadedFont> load(const std::string& path, std::string name, bool piecesOwn, bool givePresets = false)
    {
        const int id = isBankForm(fileHead(path)) ? fl().fluid_synth_sfload(synth, path.c_str(), givePresets)
                                                  : FLUID_FAILED;
        if (id == FLUID_FAILED)
            return std::nullopt;
        return LoadedFont{id, std::move(name), piecesOwn, nullptr};
    }

    void unload(LoadedFont& f)
    {
        if (f.id >= 0)
            fl().fluid_synth_sfunload(synth, f.id, 0);
        f = {};
    }

    // Makes `next` the SoundFont the channels play with, and frees the one before. The
    // presets of `song` are held first, away from the audio thread, so the swap between two
    // audio blocks loads nothing and a playing piece goes on with the new sound.
    void adopt(LoadedFont next, const Song* song)
    {
        channels->holdPresets(song, next.id);
        {
            std::lock_guard guard(lock);
            channels->useSoundFont(next.id);
            if (mode == Mode::NotOpen) {
                // Nothing plays: let go of the old presets now, not at the next play.
                for (int ch = 0; ch < 16; ++ch)
                    fl().fluid_synth_unset_program(synth, ch);
            } else {
                channels->syncAll(live);
            }
            std::swap(font, next);
        }
        unload(next);
    }

    bool isOpen() const
    {
        std::lock_guard guard(lock);
        return mode != Mode::NotOpen;
    }

    // Puts in the SoundFont the piece at `path` plays with: its own `bank`, else the one
    // beside it, else the run's. Returns why there is none; a SoundFont of the piece's that
    // cannot be loaded is passed over and noted in fontWarning.
    std::string useSoundFontFor(const std::string& path, std::span<const uint8_t> bank, const Song& song)
    {
        fontWarning.clear();
        const auto passOver = [this](const std::string& what, const std::string& why) {
            fontWarning += (fontWarning.empty() ? "" : "; ") + what + " is not used: " + why;
        };
        std::optional<LoadedFont> next;
        if (!bank.empty()) {
            auto memory = std::make_unique<MemoryFile>(bank);
            if (memory->valid() && (next = load(memory->path(), "the bank inside " + path, true)))
                next->memory = std::move(memory);
            else
                passOver("the bank inside the piece", memory->valid() ? soundFontProblem(bank) : memory->error());
        }
        for (const std::string& beside : next ? std::vector<std::string>() : soundFontsBeside(path)) {
            if (font.piecesOwn && !font.memory && font.name == beside) {
                channels->holdPresets(&song, font.id);
                return {};
            }
            if ((next = load(beside, beside, true)))
                break;
            passOver(beside, soundFontFileProblem(beside));
        }
        if (!next && font.id >= 0 && !font.piecesOwn) {
            channels->holdPresets(&song, font.id);
            return {};
        }
        if (!next && runSoundFont.empty())
            return missingSoundFontMessage();
        if (!next && !(next = load(runSoundFont, runSoundFont, false)))
            return "cannot load the SoundFont " + runSoundFont + " (" + soundFontFileProblem(runSoundFont)
                + "); " + missingSoundFontMessage();
        adopt(std::move(*next), &song);
        return {};
    }

    bool fail(std::string message)
    {
        error = std::move(message);
        return false;
    }

    // Prev (`rewind`), Next and the seek buttons: release what sounds, move the cursor
    // (clamped to the piece) and stop there; the next Play sets the channels for that
    // position.
    bool moveTo(int64_t frame, bool rewind = false)
    {
        Discarding discarding(output.get());
        std::lock_guard guard(lock);
        if (mode == Mode::NotOpen)
            return fail("no device is open");
        // A rewind right after the end restarts a loop: the output may go on after the end.
        discarding.follows = rewoundAtEnd = rewind && endedByItself;
        releaseAll();
        sequencer.seek(frame);
        passJoin = -1;
        playedFrom = sequencer.position();
        resetBeforePlay = true;
        mode = Mode::Stopped;
        endedByItself = false;
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
        runSoundFont = options.soundFont.empty() ? findSoundFont() : options.soundFont;
        soundFontLoad = std::async(std::launch::async, [this, path = runSoundFont]() -> std::string {
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
            // Load a preset's samples when it is needed, not every sample of the SoundFont
            // at start-up: FluidR3_GM keeps about 140 MB of samples resident otherwise.
            // Open holds the presets of the piece (ChannelSync::holdPresets).
            fl().fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
            synth = settings ? fl().new_fluid_synth(settings) : nullptr;
            if (!synth)
                return "the synthesizer could not be created";
            channels = std::make_unique<ChannelSync>(synth, -1);
            live = channels->powerOn();
            if (path.empty())
                return missingSoundFontMessage();
            // The channels' first presets are selected, and their samples loaded, here with
            // the SoundFont, as FluidSynth does by itself: left to Open to load, they cost the
            // player 0.7 MB more.
            std::optional<LoadedFont> loaded = load(path, path, false, true);
            if (!loaded)
                return "cannot load the SoundFont " + path + " (" + soundFontFileProblem(path) + "); "
                    + missingSoundFontMessage();
            std::lock_guard guard(lock);
            channels->useSoundFont(loaded->id);
            font = std::move(*loaded);
            return {};
        }).share();
    });
}

SynthDevice::~SynthDevice()
{
    d->output.reset();
    if (d->soundFontLoad.valid())
        d->soundFontLoad.wait();
    d->channels.reset();
    if (d->synth)
        fl().delete_fluid_synth(d->synth);
    if (d->settings)
        fl().delete_fluid_settings(d->settings);
}

bool SynthDevice::open(const std::string& path)
{
    close();
    d->noticeLostOutput();
    // Without a SoundFont of the run's, a piece that brings its own still plays.
    if (std::string problem = d->soundFontError(); !d->synth)
        return d->fail(std::move(problem));

    LoadResult loaded = loadMidiFile(path);
    if (!loaded.song)
        return d->fail(std::move(loaded.error));
    const std::vector<uint8_t> bank = std::move(loaded.song->bank);
    auto song = std::make_shared<const Song>(std::move(*loaded.song));

    if (std::string problem = d->ensureOutput(); !problem.empty())
        return d->fail(std::move(problem));
    if (std::string problem = d->useSoundFontFor(path, bank, *song); !problem.empty())
        return d->fail(std::move(problem));

    Sequencer prepared;
    prepared.load(std::move(song), d->options.sampleRate);
    std::lock_guard guard(d->lock);
    std::swap(d->sequencer, prepared);
    d->mode = Mode::Stopped;
    d->resetBeforePlay = true;
    d->playedFrom = 0;
    d->passJoin = -1;
    d->error.clear();
    d->outputError.clear();
    return true;
}

bool SynthDevice::setSoundFont(const std::string& path)
{
    if (std::string why = soundFontRefusal(path); !why.empty())
        return d->fail(std::move(why));
    if (std::string problem = d->soundFontError(); !d->synth)
        return d->fail(std::move(problem));
    std::optional<Impl::LoadedFont> next = d->load(path, path, false);
    if (!next)
        return d->fail(soundFontFileProblem(path));
    d->runSoundFont = path;
    // A piece playing with a SoundFont of its own keeps it; the next piece gets this one.
    if (d->font.piecesOwn && d->isOpen())
        d->unload(*next);
    else
        d->adopt(std::move(*next), song().get());
    return true;
}

std::string SynthDevice::soundFont() const
{
    // The first SoundFont is put in by the thread that makes the synthesizer.
    return d->prepared() ? d->font.name : std::string();
}

std::string SynthDevice::soundFontWarning() const
{
    return d->fontWarning;
}

bool SynthDevice::close()
{
    std::shared_ptr<const Song> old;   // freed after the lock is let go
    Impl::Discarding discarding(d->output.get());
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->fail("no device is open");
    if (d->channels)
        d->releaseAll();
    old = d->sequencer.song();
    d->sequencer.clear();
    d->mode = Mode::NotOpen;
    d->endedByItself = d->rewoundAtEnd = false;
    d->outputError.clear();
    return true;
}

bool SynthDevice::play()
{
    d->noticeLostOutput();
    std::string problem;
    if (d->options.realtime && !d->output && mode() != Mode::NotOpen) {
        // An output that was lost is tried again, but not more than once a second,
        // however often a loop asks.
        if (std::chrono::steady_clock::now() - d->lastOutputAttempt >= kOutputRetry)
            problem = d->ensureOutput();
        else
            problem = outputError();
    }
    // Playing again changes nothing: the output is left alone.
    Impl::Discarding discarding(d->playing() ? nullptr : d->output.get(), true);
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->fail("no device is open");
    d->outputError = problem;
    if (!problem.empty())
        return d->fail(std::move(problem));
    if (d->mode == Mode::Playing)
        return true;
    discarding.follows = d->alignPass = d->rewoundAtEnd;
    d->passJoin = d->rewoundAtEnd ? d->endFrame : -1;
    d->rewoundAtEnd = false;
    d->endFrame = INT64_MAX;
    if (d->resetBeforePlay) {
        d->resetChannelsToCursor();
        d->resetBeforePlay = false;
    }
    d->mode = Mode::Playing;
    d->playedFrom = d->sequencer.position();
    d->endedByItself = false;
    return true;
}

bool SynthDevice::stop()
{
    Impl::Discarding discarding(d->output.get());
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->fail("no device is open");
    d->releaseAll();
    d->mode = Mode::Stopped;
    d->endedByItself = d->rewoundAtEnd = false;
    return true;
}

bool SynthDevice::pause()
{
    // A piece that ended by itself but is still heard pauses there too: the output's
    // discard takes back what was not heard, and Play goes on from what was.
    const bool heard = heardMode() == Mode::Playing;
    Impl::Discarding discarding(heard ? d->output.get() : nullptr);
    std::lock_guard guard(d->lock);
    if (d->mode == Mode::NotOpen)
        return d->fail("no device is open");
    if (d->mode == Mode::Playing || (heard && d->endedByItself)) {
        d->releaseAll();
        d->mode = Mode::Paused;
    }
    d->endedByItself = d->rewoundAtEnd = false;
    return true;
}

bool SynthDevice::prev()
{
    return d->moveTo(0, true);
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
    // An output that holds at the end waits there for the next pass: the end is told at
    // once, so that a loop's restart reaches it while the end is still queued.
    return d->shownMode(false);
}

Mode SynthDevice::heardMode() const
{
    return d->shownMode(true);
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

std::string SynthDevice::outputError() const
{
    std::lock_guard guard(d->lock);
    return d->outputError;
}

int SynthDevice::render(float* left, float* right, int frames, bool stopAtEnd)
{
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    (void)d->soundFontError();
    std::lock_guard guard(d->lock);
    d->endedAt = -1;
    const int rendered = d->synth ? d->renderLocked(left, right, frames, stopAtEnd) : -1;
    return rendered < 0 ? frames : rendered;   // silence, all of it
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
