#pragma once

#include "Song.h"

#include <array>
#include <cstdint>
#include <utility>

namespace md {

// How bank select messages choose a bank, as the last module reset set it.
enum class BankStyle : uint8_t {
    Default,   // no reset seen: the MSB is the bank (GS-like), the LSB is ignored; but
               // 120 and 121 pick a rhythm kit or a melody as in GM2
    Gm,        // General MIDI: banks are ignored
    Gm2,       // GM2: MSB 120 picks a rhythm kit, 121 a melody whose variation is the LSB
    Gs,        // GS: the MSB is the variation bank, the LSB is ignored
    Xg,        // XG: MSB 120 and above picks a kit, otherwise the LSB is the bank
};

// The SoundFont generators a sound parameter message (NRPN 120) can set.
inline constexpr int kGenerators = 60;

// What the messages of a piece have set on one channel. Parameters are kept as the
// messages gave them; ChannelSync works out what FluidSynth must be told.
struct ChannelState {
    std::array<uint8_t, 128> cc{};   // last value of every controller
    uint8_t program = 0;
    uint8_t bankMsb = 0, bankLsb = 0;   // as latched by the last program change
    bool drum = false;
    uint16_t bend = 8192;
    uint8_t pressure = 0;
    // Registered parameters.
    int bendRangeCents = 200;      // 0,0: pitch bend range (MSB semitones, LSB cents)
    uint16_t fineTune = 8192;      // 0,1: +/-100 cents over 14 bits
    uint8_t coarseTune = 64;       // 0,2: semitones, 64 is none
    int8_t tuningProgram = -1;     // 0,3: a tuning program, -1 when none was chosen
    uint8_t tuningBank = 0;        // 0,4
    int modDepthCents = 50;        // 0,5: how far the modulation wheel bends the pitch
    // Sound parameters set by NRPN 120 (SoundFont generators), as 14-bit data; 8192 is none.
    std::array<uint16_t, kGenerators> soundParameters;
    std::array<int8_t, 12> scaleTuning{};   // GS: cents for each pitch class, C first

    // Which parameter the data entry controllers write, as the select controllers left it.
    bool nrpnActive = false;
    int nrpnSelect = 0;   // NRPN 120: the generator number so far, kGenerators when none
    bool dataLsbSinceSelect = false;

    ChannelState() { soundParameters.fill(8192); }
    bool operator==(const ChannelState&) const = default;
};

// Everything a piece's messages have set on the synthesizer: each channel, and what
// universal and manufacturer messages set for the whole module.
struct MidiState {
    std::array<ChannelState, 16> channels;
    BankStyle style = BankStyle::Default;
    uint16_t masterFineTune = 8192;   // GM2 master fine tuning, +/-100 cents over 14 bits
    uint8_t masterCoarseTune = 64;    // GM2 master coarse tuning, semitones, 64 is none
    bool tuningMessages = false;      // MIDI Tuning Standard messages went to the synthesizer

    // What an event asks of the synthesizer once it has been folded in.
    enum class Effect {
        None,       // nothing to do
        Channel,    // the state of the event's channel (its status byte's) changed: bring
                    // it up to date
        Module,     // any channel may have changed
        Note,       // a note or another passing message: send it as it is
        PassOn,     // a setting the synthesizer keeps itself (mode messages, tuning
                    // standard messages): send it as it is, and again after a rewind
    };

    // The bank and program a channel asks for, as the bank style reads its bank select;
    // drum kits are in bank 128, as SoundFonts keep them.
    std::pair<int, int> bankAndProgram(int channel) const;

    // Folds one event of `song` into the state; a module reset returns to `powerOn`.
    Effect fold(const MidiEvent& event, const Song& song, const MidiState& powerOn);

    bool operator==(const MidiState&) const = default;

private:
    Effect controller(ChannelState& c, int number, int value);
    Effect sysex(const std::vector<uint8_t>& body, const MidiState& powerOn);
    void reset(BankStyle style, const MidiState& powerOn);
};

} // namespace md
