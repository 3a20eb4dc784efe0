// Folding MIDI messages into the state a module keeps. What is read here, and what it sets:
//
//   message                                   sets
//   ----------------------------------------  ------------------------------------------------
//   controllers 0-119                         their values (bank select is latched by the
//                                             next program change); portamento (5, 65, 84)
//                                             is left as they set it: see below
//   101/100, 99/98 then 6/38 (RPN, NRPN)      the parameter selected: bend range in semitones
//                                             and cents, fine and coarse tuning, tuning program
//                                             and bank, modulation depth range; NRPN 120 sets
//                                             SoundFont generators
//   121 reset all controllers                 controllers as FluidSynth resets them, bend,
//                                             pressure, sound parameters
//   124-127 mode messages                     passed on (FluidSynth keeps the modes)
//   program change                            program, and the bank and kind (drum or melody)
//                                             the bank style makes of the latched bank; before
//                                             any reset, banks 120 and 121 as GM2 reads them
//   GM/GM2 system on, GS reset, XG system on  everything back to power-on, and the bank style
//   GM2 master fine and coarse tuning         the whole module's tuning
//   GS "use for rhythm part" (40 1x 15)       drum or melody for the part's channel
//   GS scale tuning (40 1x 40-4B)             cents for each pitch class of the part
//   MIDI Tuning Standard (7E/7F .. 08 ..)     passed on (FluidSynth keeps the tunings)
//
// Portamento needs nothing more. GS, XG and GM2 modules start with a portamento time of 0,
// "the fastest change", which on a Sound Canvas is no audible glide: a piece that only
// switches portamento on (65) sounds the same with it as without it there, and so it does
// here, FluidSynth's time 0 being no glide either. None of them ties portamento to mono
// mode (MIDI's portamento control, 84, is there to glide in poly mode). A time a piece does
// set, FluidSynth reads as MSB * 128 + LSB milliseconds.

#include "MidiState.h"

#include <algorithm>

namespace md {

namespace {

constexpr int kRpnBendRange = 0, kRpnFineTune = 1, kRpnCoarseTune = 2, kRpnTuningProgram = 3,
              kRpnTuningBank = 4, kRpnModDepth = 5;

// The parameter an RPN or NRPN data entry writes.
int selectedRpn(const ChannelState& c)
{
    return (c.cc[101] << 7) | c.cc[100];
}

// GS numbers its parts 1-16 in the order 10, 1-9, 11-16; returns the channel, or -1.
int gsPartChannel(int part)
{
    if (part == 0)
        return 9;
    if (part <= 9)
        return part - 1;
    return part <= 15 ? part : -1;
}

// Writes a data entry value to the selected registered parameter.
void setRegistered(ChannelState& c, int msb, int lsb)
{
    const int data = (msb << 7) | lsb;
    switch (selectedRpn(c)) {
    case kRpnBendRange: c.bendRangeCents = msb * 100 + std::min(lsb, 99); break;
    case kRpnFineTune: c.fineTune = static_cast<uint16_t>(data); break;
    case kRpnCoarseTune: c.coarseTune = static_cast<uint8_t>(msb); break;
    case kRpnTuningProgram: c.tuningProgram = static_cast<int8_t>(msb); break;
    case kRpnTuningBank: c.tuningBank = static_cast<uint8_t>(msb); break;
    case kRpnModDepth: c.modDepthCents = msb * 100 + lsb * 100 / 128; break;
    default: break;
    }
}

} // namespace

MidiState::Effect MidiState::fold(const MidiEvent& e, const Song& song, const MidiState& powerOn)
{
    if (e.status == 0xF0) {
        if (e.sysex >= song.sysex.size())
            return Effect::None;
        // A message that leaves the module as it was (the hundredth reset in a row) has
        // nothing for the synthesizer, where sixteen channels would be gone through.
        const MidiState before = *this;
        const Effect effect = sysex(song.sysex[e.sysex], powerOn);
        return effect == Effect::Module && *this == before ? Effect::None : effect;
    }
    ChannelState& c = channels[e.status & 0x0F];
    switch (e.status & 0xF0) {
    case 0xB0: return controller(c, e.data1 & 0x7F, e.data2 & 0x7F);
    case 0xC0:
        c.program = e.data1;
        c.bankMsb = c.cc[0];
        c.bankLsb = c.cc[32];
        // Banks that name a kind of part switch the channel between drums and melody. Before
        // any reset, 120 and 121 are read as GM2 reads them: GM2 is the convention that gives
        // them a meaning (XG's kits are 126 and 127), and pieces written for GM2 often leave
        // out its System On.
        if ((style == BankStyle::Gm2 || style == BankStyle::Default)
            && (c.bankMsb == 120 || c.bankMsb == 121))
            c.drum = c.bankMsb == 120;
        else if (style == BankStyle::Xg)
            c.drum = c.bankMsb >= 120;
        return Effect::Channel;
    case 0xD0: c.pressure = e.data1; return Effect::Channel;
    case 0xE0: c.bend = static_cast<uint16_t>((e.data2 << 7) | e.data1); return Effect::Channel;
    default: return Effect::Note;   // notes and key pressure
    }
}

MidiState::Effect MidiState::controller(ChannelState& c, int number, int value)
{
    c.cc[number] = static_cast<uint8_t>(value);
    switch (number) {
    case 6:    // data entry MSB: the value, with an LSB only if one came for this parameter
    case 38: {
        const int msb = c.cc[6];
        const int lsb = number == 38 || c.dataLsbSinceSelect ? c.cc[38] : 0;
        c.dataLsbSinceSelect = c.dataLsbSinceSelect || number == 38;
        if (!c.nrpnActive) {
            setRegistered(c, msb, lsb);
        } else if (c.cc[99] == 120 && c.cc[98] < 100 && number == 6) {
            // A SoundFont generator, written when its MSB arrives (as FluidSynth does).
            if (c.nrpnSelect < kGenerators)
                c.soundParameters[static_cast<std::size_t>(c.nrpnSelect)] =
                    static_cast<uint16_t>((msb << 7) | c.cc[38]);
            c.nrpnSelect = 0;
        }
        return Effect::Channel;
    }
    case 99:
        c.cc[98] = 0;
        c.nrpnSelect = 0;
        c.nrpnActive = true;
        c.dataLsbSinceSelect = false;
        return Effect::None;
    case 98:
        // NRPN 120: generator numbers are sent as sums of 100, 1000, 10000 and a remainder.
        // A sum past the last generator selects none, however many parts follow: it stays
        // at kGenerators, so a file cannot run it round to a number that indexes the table.
        if (c.cc[99] == 120)
            c.nrpnSelect = std::min(kGenerators, c.nrpnSelect + (value == 100 ? 100 : value == 101 ? 1000
                                                                  : value == 102 ? 10000 : value < 100 ? value : 0));
        c.nrpnActive = true;
        c.dataLsbSinceSelect = false;
        return Effect::None;
    case 100:
    case 101:
        c.nrpnActive = false;
        c.dataLsbSinceSelect = false;
        return Effect::None;
    case 121:
        // Reset all controllers, as FluidSynth defines it: volume, pan, banks, effect
        // depths and sound controllers keep their values.
        for (int i = 0; i < 120; ++i) {
            const bool kept = (i >= 91 && i <= 95) || (i >= 70 && i <= 79) || i == 0 || i == 32
                || i == 7 || i == 39 || i == 10 || i == 42;
            if (!kept)
                c.cc[static_cast<std::size_t>(i)] = 0;
        }
        for (int i : {98, 99, 100, 101, 11, 43})
            c.cc[static_cast<std::size_t>(i)] = 127;
        c.bend = 8192;
        c.pressure = 0;
        c.soundParameters.fill(8192);
        c.nrpnActive = false;
        return Effect::Channel;
    case 120:
    case 123:
        return Effect::Note;   // all sound off, all notes off
    case 122:
        return Effect::None;   // local control: no keyboard here
    case 124:
    case 125:
    case 126:
    case 127:
        return Effect::PassOn;
    default:
        return Effect::Channel;
    }
}

std::pair<int, int> MidiState::bankAndProgram(int channel) const
{
    const ChannelState& c = channels[static_cast<std::size_t>(channel)];
    if (c.drum)
        return {128, c.program};
    switch (style) {
    case BankStyle::Gm: return {0, c.program};
    case BankStyle::Gm2: return {c.bankMsb == 121 ? c.bankLsb : 0, c.program};
    case BankStyle::Xg: return {c.bankLsb, c.program};
    case BankStyle::Default: return {c.bankMsb == 121 ? c.bankLsb : c.bankMsb, c.program};
    case BankStyle::Gs: break;
    }
    return {c.bankMsb, c.program};
}

void MidiState::reset(BankStyle newStyle, const MidiState& powerOn)
{
    channels = powerOn.channels;
    style = newStyle;
    masterFineTune = powerOn.masterFineTune;
    masterCoarseTune = powerOn.masterCoarseTune;
}

MidiState::Effect MidiState::sysex(const std::vector<uint8_t>& b, const MidiState& powerOn)
{
    const std::size_t n = b.size();
    // Universal messages: 7E (non-real time) or 7F (real time), device, sub-IDs.
    if (n >= 4 && b[0] == 0x7E && b[2] == 0x09 && (b[3] == 0x01 || b[3] == 0x03)) {
        reset(b[3] == 0x01 ? BankStyle::Gm : BankStyle::Gm2, powerOn);
        return Effect::Module;
    }
    if (n >= 4 && (b[0] == 0x7E || b[0] == 0x7F) && b[2] == 0x08) {
        tuningMessages = true;
        return Effect::PassOn;
    }
    if (n >= 6 && b[0] == 0x7F && b[2] == 0x04 && (b[3] == 0x03 || b[3] == 0x04)) {
        if (b[3] == 0x03)
            masterFineTune = static_cast<uint16_t>(((b[5] & 0x7F) << 7) | (b[4] & 0x7F));
        else
            masterCoarseTune = b[5] & 0x7F;
        return Effect::Module;
    }
    // Roland GS data set: 41 dev 42 12 addr(3) data... checksum.
    if (n >= 9 && b[0] == 0x41 && b[2] == 0x42 && b[3] == 0x12) {
        const int a1 = b[4], a2 = b[5], a3 = b[6];
        const std::size_t dataBytes = n - 8;
        if ((a1 == 0x40 && a2 == 0x00 && a3 == 0x7F) || (a1 == 0x00 && a2 == 0x00 && a3 == 0x7F)) {
            reset(BankStyle::Gs, powerOn);
            return Effect::Module;
        }
        const int ch = a1 == 0x40 && (a2 & 0xF0) == 0x10 ? gsPartChannel(a2 & 0x0F) : -1;
        if (ch < 0)
            return Effect::None;
        // A part's channel is in the message, not in its status byte: these change the
        // module as far as the device is concerned.
        ChannelState& c = channels[static_cast<std::size_t>(ch)];
        if (a3 == 0x15) {
            c.drum = b[7] != 0;
            return Effect::Module;
        }
        if (a3 >= 0x40 && a3 <= 0x4B) {
            for (std::size_t i = 0; i < dataBytes && a3 - 0x40 + i < 12; ++i)
                c.scaleTuning[a3 - 0x40 + i] = static_cast<int8_t>((b[7 + i] & 0x7F) - 64);
            return Effect::Module;
        }
        return Effect::None;
    }
    // Yamaha XG system on: 43 1n 4C 00 00 7E 00.
    if (n >= 7 && b[0] == 0x43 && (b[1] & 0xF0) == 0x10 && b[2] == 0x4C && b[3] == 0 && b[4] == 0
        && b[5] == 0x7E) {
        reset(BankStyle::Xg, powerOn);
        return Effect::Module;
    }
    return Effect::None;
}

} // namespace md
