#pragma once

#include <fluidsynth.h>

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
};

// The system's sound output, pulling audio from a source until it is deleted.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // The source has something to sound again: ask for it at once.
    virtual void wake() {}
    // What is queued but not yet heard no longer stands (the device started, stopped or
    // jumped): let what follows be heard as soon as it can.
    virtual void discard() {}
    // Why the output is gone for good (the device was removed, the sound server went
    // away), or "" while it works, even if the system has only paused it for a while.
    virtual std::string lost() const = 0;
};

// Makes an output that plays `source`; on failure returns null and sets `error`.
using OutputFactory =
    std::function<std::unique_ptr<AudioOutput>(AudioSource& source, std::string& error)>;

// The system's output: FluidSynth's drivers, PulseAudio first, then ALSA. `settings` are
// the synthesizer's (sample rate, driver settings); `stallMs` is how long an output may stop
// asking for audio before it counts as lost (0: never).
std::unique_ptr<AudioOutput> openSystemOutput(AudioSource& source, fluid_settings_t* settings,
                                              int stallMs, std::string& error);

} // namespace md
