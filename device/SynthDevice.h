#pragma once

#include "AudioOutput.h"
#include "Device.h"
#include "Song.h"

#include <memory>
#include <string>

namespace md {

struct SynthOptions {
    // SoundFont file; empty means: $MELLOWDECK_SOUNDFONT, then the usual system places.
    std::string soundFont;
    // true: play through the system's audio output (see openSystemOutput: PulseAudio, then
    // ALSA).
    // false: no audio output; the owner pulls audio with render() (tests, offline rendering).
    bool realtime = true;
    double sampleRate = 44100.0;
    // An output of FluidSynth's drivers that has not asked for audio for this long is taken
    // for lost (device removed). 0 never gives up. Mellowdeck's own PulseAudio output is
    // told by the server when it is lost, and may rightly go quiet for long (corked,
    // suspended).
    int outputStallMs = 2000;
    // Where the sound goes when `realtime`; unset: the system's output.
    OutputFactory output;
    // false: the synthesizer is made and the SoundFont loaded in the background from
    // construction on. true: that starts at prepare(), or at the first call that needs them.
    bool prepareLater = false;
};

// The sequencer device: plays a loaded Song on a FluidSynth synthesizer. Events are sent
// from the audio callback at their sample times; commands may come from another thread.
class SynthDevice final : public Device {
public:
    explicit SynthDevice(SynthOptions options = {});
    ~SynthDevice() override;
    SynthDevice(const SynthDevice&) = delete;
    SynthDevice& operator=(const SynthDevice&) = delete;

    // Starts making the synthesizer and loading the SoundFont on a thread of its own, if
    // that has not started yet; returns at once. Call it from the thread that gives the
    // device its commands.
    void prepare();

    bool open(const std::string& path) override;
    bool close() override;
    bool play() override;
    bool stop() override;
    bool pause() override;
    bool prev() override;
    bool next() override;
    bool seek(int64_t ms) override;

    Mode mode() const override;
    Mode heardMode() const override;
    int64_t positionMs() const override;
    int64_t lengthMs() const override;
    std::string errorMessage() const override;
    std::string outputError() const override;

    // Renders the next `frames` frames into two planar buffers (offline use; with a
    // realtime output the audio callback does this). Returns how many it rendered: all of
    // them, or with `stopAtEnd` those up to the frame at which the piece ends by itself
    // (the rest stay zero, and the next call renders on from there).
    int render(float* left, float* right, int frames, bool stopAtEnd = false);

    double sampleRate() const;
    int64_t positionFrames() const;
    int64_t lengthFrames() const;
    int activeVoices() const;
    std::shared_ptr<const Song> song() const;   // null when no device is open

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace md
