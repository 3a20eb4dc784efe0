#pragma once

#include <fluidsynth.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace md {

// What an output plays: the device renders on the output's own thread.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Renders `frames` frames into `left` and `right`, which the caller has zeroed. Returns
    // false when it rendered silence and nothing will sound until it is woken: the output
    // may then stop asking and let the sound card sleep.
    virtual bool pull(float* left, float* right, int frames) = 0;
    // After a pull, on the same thread: the frame of that pull at which the piece came to
    // its end by itself, or -1 if it did not end there.
    virtual int pieceEndedAt() const { return -1; }
    // On the same thread: the last `frames` frames that pull() rendered are being replaced
    // before anyone heard them. Notes begun in them must not sound, and a piece that was
    // stopped or paused meanwhile goes on from what was heard.
    virtual void unheard(int64_t frames) { (void)frames; }
};

// The system's sound output, pulling audio from a source until it is deleted. Its methods
// are called from the thread that gives the device its commands, never while the source
// is locked against pull().
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // The source has something to sound again: ask for it at once.
    virtual void wake() {}
    // The source is about to change what it sounds: render nothing more until discard(),
    // which must follow, so that all of the new sound reaches what discard() writes.
    virtual void hold() {}
    // What is queued but not yet heard no longer stands (the device started, stopped or
    // jumped): let what follows be heard as soon as it can.
    virtual void discard() {}
    // In place of discard(), for a command that follows a piece that ended by itself with
    // nothing commanded since (the restart of a loop: Prev, then Play). An output that held
    // at the end (wrote nothing past it) and can still go on from there before its queue runs
    // out keeps what it queued and, on wake(), writes on from the end: the next pass begins
    // on the frame after the last one ended. Any other output discards.
    virtual void follow() { discard(); }
    // Whether the output holds at the end of a piece: then a pull in which the piece ends by
    // itself renders only up to that end (the frame pieceEndedAt() reports) and leaves the
    // rest zero, and the next pull renders on from the end: the next pass if the piece was
    // restarted meanwhile, else the notes releasing. Otherwise the whole buffer, the release
    // right after the end.
    virtual bool holdsAtEnd() const { return false; }
    // When the end of a piece that the source last reported (pieceEndedAt) is heard: an
    // output that queues much audio has the end rendered well before it is heard, and the
    // device counts as playing until then. Long past by default: at once.
    virtual std::chrono::steady_clock::time_point endHeardAt() const { return {}; }
    // Why the output is gone for good (the device was removed, the sound server went
    // away), or "" while it works, even if the system has only paused it for a while.
    virtual std::string lost() const = 0;
};

// Makes an output that plays `source`; on failure returns null and sets `error`.
using OutputFactory =
    std::function<std::unique_ptr<AudioOutput>(AudioSource& source, std::string& error)>;

// The system's output: Mellowdeck's own PulseAudio output, then FluidSynth's ALSA driver.
// $MELLOWDECK_AUDIO chooses one alone: "pulse" (our own), "alsa" or "fluid-pulseaudio"
// (FluidSynth's drivers). `settings` are the synthesizer's (driver settings); `stallMs` is
// how long one of FluidSynth's drivers may stop asking for audio before it counts as lost
// (0: never).
std::unique_ptr<AudioOutput> openSystemOutput(AudioSource& source, fluid_settings_t* settings,
                                              double sampleRate, int stallMs,
                                              std::string& error);

} // namespace md
