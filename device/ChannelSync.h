#pragma once

#include "MidiState.h"

#include <fluidsynth.h>

#include <array>
#include <utility>
#include <vector>

namespace md {

// Makes FluidSynth's sixteen channels hold a MidiState. It remembers what it has told the
// synthesizer and sends only what differs: every change reaches the voices still sounding
// on a channel (a release tail across a rewind), so what stays the same is not touched.
// Settings the synthesizer keeps itself (modes, tuning-standard tunings) are passed on as
// they come, and undone before a rewind.
class ChannelSync {
public:
    // Takes what FluidSynth's channels hold before any message as the power-on state.
    ChannelSync(fluid_synth_t* synth, int soundFont);

    const MidiState& powerOn() const { return powerOn_; }

    void sync(const MidiState& target, int channel);
    void syncAll(const MidiState& target);

    // Sends an event whose setting the synthesizer keeps itself.
    void passOn(const MidiEvent& event, const Song& song);
    // Returns the synthesizer's modes and tunings to power-on, where messages passed on
    // changed them.
    void undoPassedOn();

    // Lifts the pedals in `live` and on the synthesizer, and releases every note.
    void releaseAll(MidiState& live);

    // Keeps the samples of every preset `song` can select loaded, and lets go of what the
    // last song held; FluidSynth would otherwise load them on the audio thread.
    void holdPresets(const Song& song);

private:
    // What the synthesizer has been told for one channel, in its own terms.
    struct Applied {
        std::array<int, 128> cc{};
        int bank = 0, program = 0;
        bool drum = false;
        int sens = 2, bend = 8192, pressure = 0;
        std::array<float, kGenerators> generators{};
        // The tuning in use: a program chosen by the piece, or our own for a scale tuning
        // (bank kScaleTuningBank); -1 when none.
        int tuningBank = -1, tuningProgram = -1;
        std::array<int8_t, 12> scale{};
    };
    Applied wanted(const MidiState& target, int channel) const;
    std::pair<int, int> resolve(int bank, int program, bool drum) const;
    // The preset a channel in `state` plays, as the SoundFont has it: (bank, program).
    std::pair<int, int> presetOf(const MidiState& state, int channel) const;

    fluid_synth_t* synth_;
    int soundFont_;
    MidiState powerOn_;
    std::array<Applied, 16> applied_;
    std::array<std::array<int, 3>, 16> powerOnModes_{};   // basic channel, mode, value
    bool tuningPassed_ = false;
    bool modePassed_ = false;
    std::vector<std::pair<int, int>> held_;
};

} // namespace md
