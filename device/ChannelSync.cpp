#include "ChannelSync.h"

#include "FluidApi.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace md {

namespace {

constexpr int kDrumBank = 128;
// Our own tuning programs, one per channel, for scale tunings; pieces choose theirs from
// the lower banks.
constexpr int kScaleTuningBank = 127;
constexpr int kMaxBendSemitones = 72;   // the widest pitch wheel range FluidSynth takes

// The controllers the synthesizer is given as they are. Bank select reaches it through
// program selection, and parameter selection and data entry as the parameters they set.
bool sentAsIs(int cc)
{
    return cc < 120 && cc != 0 && cc != 32 && cc != 6 && cc != 38 && (cc < 96 || cc > 101);
}

// How an NRPN data value scales to a generator's units (SoundFont 2.01, 9.6): time and
// pitch parameters move in steps of 2, LFO frequencies of 4; 0 for those not set this way.
int nrpnScale(int generator)
{
    switch (generator) {
    case 5: case 6: case 7: case 8: case 10: case 11: case 21: case 23: case 25: case 26:
    case 27: case 28: case 30: case 33: case 34: case 35: case 36: case 38:
        return 2;
    case 22: case 24:
        return 4;
    case 14: case 18: case 19: case 20: case 41: case 42: case 43: case 44: case 46: case 49:
    case 53: case 54: case 55: case 57: case 58: case 59:
        return 0;
    default:
        return 1;
    }
}

} // namespace

ChannelSync::ChannelSync(fluid_synth_t* synth, int soundFont) : synth_(synth), soundFont_(soundFont)
{
    for (int ch = 0; ch < 16; ++ch) {
        ChannelState& c = powerOn_.channels[static_cast<std::size_t>(ch)];
        for (int cc = 0; cc < 128; ++cc) {
            int value = 0;
            fl().fluid_synth_get_cc(synth_, ch, cc, &value);
            c.cc[static_cast<std::size_t>(cc)] = static_cast<uint8_t>(value);
        }
        int sfont = 0, bank = 0, program = 0;
        fl().fluid_synth_get_program(synth_, ch, &sfont, &bank, &program);
        c.drum = bank == kDrumBank;
        c.program = static_cast<uint8_t>(program);
        auto& mode = powerOnModes_[static_cast<std::size_t>(ch)];
        fl().fluid_synth_get_basic_channel(synth_, ch, &mode[0], &mode[1], &mode[2]);
    }
    for (int ch = 0; ch < 16; ++ch)
        applied_[static_cast<std::size_t>(ch)] = wanted(powerOn_, ch);
}

ChannelSync::Applied ChannelSync::wanted(const MidiState& target, int channel) const
{
    const ChannelState& c = target.channels[static_cast<std::size_t>(channel)];
    Applied a;
    for (int cc = 0; cc < 128; ++cc)
        a.cc[static_cast<std::size_t>(cc)] = sentAsIs(cc) ? c.cc[static_cast<std::size_t>(cc)] : -1;
    std::tie(a.bank, a.program) = target.bankAndProgram(channel);
    a.drum = c.drum;
    // FluidSynth bends by whole semitones, at most 72: a range with cents is the next whole
    // range and a bend scaled down to match.
    a.sens = std::min((c.bendRangeCents + 99) / 100, kMaxBendSemitones);
    a.bend = a.sens == 0 ? 8192
                         : 8192 + static_cast<int>(std::lround((c.bend - 8192) * c.bendRangeCents
                                                               / (a.sens * 100.0)));
    a.pressure = c.pressure;
    for (int g = 0; g < kGenerators; ++g) {
        const int data = c.soundParameters[static_cast<std::size_t>(g)];
        a.generators[static_cast<std::size_t>(g)] = static_cast<float>((data - 8192) * nrpnScale(g));
    }
    // Tuning: the channel's own, and the whole module's for melodic parts.
    double cents = (c.fineTune - 8192) * 100.0 / 8192.0 + (c.coarseTune - 64) * 100.0;
    if (!c.drum)
        cents += (target.masterFineTune - 8192) * 100.0 / 8192.0 + (target.masterCoarseTune - 64) * 100.0;
    const double semitones = std::round(cents / 100.0);
    a.generators[GEN_COARSETUNE] += static_cast<float>(semitones);
    a.generators[GEN_FINETUNE] += static_cast<float>(cents - semitones * 100.0);
    // The modulation wheel's vibrato reaches 50 cents in FluidSynth; the depth range widens it.
    a.generators[GEN_VIBLFOTOPITCH] += static_cast<float>((c.modDepthCents - 50) * c.cc[1] / 127.0);
    a.scale = c.scaleTuning;
    if (std::any_of(c.scaleTuning.begin(), c.scaleTuning.end(), [](int8_t v) { return v != 0; })) {
        a.tuningBank = kScaleTuningBank;
        a.tuningProgram = channel;
    } else if (c.tuningProgram >= 0) {
        a.tuningBank = c.tuningBank;
        a.tuningProgram = c.tuningProgram;
    }
    return a;
}

void ChannelSync::sync(const MidiState& target, int ch)
{
    const Applied w = wanted(target, ch);
    Applied& a = applied_[static_cast<std::size_t>(ch)];
    if (w.drum != a.drum) {
        fl().fluid_synth_set_channel_type(synth_, ch, w.drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        a.drum = w.drum;
    }
    if (w.bank != a.bank || w.program != a.program) {
        const auto [bank, program] = resolve(w.bank, w.program, w.drum);
        fl().fluid_synth_program_select(synth_, ch, soundFont_, bank, program);
        a.bank = w.bank;
        a.program = w.program;
    }
    for (std::size_t cc = 0; cc < w.cc.size(); ++cc) {
        if (w.cc[cc] >= 0 && w.cc[cc] != a.cc[cc]) {
            fl().fluid_synth_cc(synth_, ch, static_cast<int>(cc), w.cc[cc]);
            a.cc[cc] = w.cc[cc];
        }
    }
    if (w.sens != a.sens)
        fl().fluid_synth_pitch_wheel_sens(synth_, ch, w.sens);
    if (w.bend != a.bend)
        fl().fluid_synth_pitch_bend(synth_, ch, std::clamp(w.bend, 0, 16383));
    if (w.pressure != a.pressure)
        fl().fluid_synth_channel_pressure(synth_, ch, w.pressure);
    for (std::size_t g = 0; g < w.generators.size(); ++g) {
        if (w.generators[g] != a.generators[g])
            fl().fluid_synth_set_gen(synth_, ch, static_cast<int>(g), w.generators[g]);
    }
    if (w.tuningBank != a.tuningBank || w.tuningProgram != a.tuningProgram || w.scale != a.scale) {
        if (w.tuningBank == kScaleTuningBank) {
            std::array<double, 128> pitch{};
            for (std::size_t key = 0; key < pitch.size(); ++key)
                pitch[key] = static_cast<double>(key) * 100.0 + w.scale[key % 12];
            fl().fluid_synth_activate_key_tuning(synth_, kScaleTuningBank, ch, "scale", pitch.data(), 0);
        }
        if (w.tuningBank >= 0)
            fl().fluid_synth_activate_tuning(synth_, ch, w.tuningBank, w.tuningProgram, 1);
        else
            fl().fluid_synth_deactivate_tuning(synth_, ch, 1);
    }
    a = w;
}

void ChannelSync::syncAll(const MidiState& target)
{
    for (int ch = 0; ch < 16; ++ch)
        sync(target, ch);
}

void ChannelSync::passOn(const MidiEvent& e, const Song& song)
{
    if (e.status == 0xF0) {
        const auto& body = song.sysex[e.sysex];
        fl().fluid_synth_sysex(synth_, reinterpret_cast<const char*>(body.data()),
                               static_cast<int>(body.size()), nullptr, nullptr, nullptr, 0);
        tuningPassed_ = true;
    } else {
        fl().fluid_synth_cc(synth_, e.status & 0x0F, e.data1, e.data2);
        modePassed_ = true;
    }
}

void ChannelSync::undoPassedOn()
{
    if (tuningPassed_) {
        // Voices keep their pitch; notes played from now on are in equal temperament,
        // until the channel's own tuning is put back.
        for (int ch = 0; ch < 16; ++ch) {
            fl().fluid_synth_deactivate_tuning(synth_, ch, 0);
            applied_[static_cast<std::size_t>(ch)].tuningBank = -1;
            applied_[static_cast<std::size_t>(ch)].tuningProgram = -1;
        }
        tuningPassed_ = false;
    }
    if (modePassed_) {
        fl().fluid_synth_reset_basic_channel(synth_, -1);
        for (int ch = 0; ch < 16; ++ch) {
            const auto& m = powerOnModes_[static_cast<std::size_t>(ch)];
            if (m[0] == ch)
                fl().fluid_synth_set_basic_channel(synth_, ch, m[1], m[2]);
        }
        modePassed_ = false;
    }
}

void ChannelSync::releaseAll(MidiState& live)
{
    // Sustain and sostenuto first: a note held by a pedal ignores note-off.
    for (int ch = 0; ch < 16; ++ch) {
        for (int pedal : {64, 66}) {
            live.channels[static_cast<std::size_t>(ch)].cc[static_cast<std::size_t>(pedal)] = 0;
            fl().fluid_synth_cc(synth_, ch, pedal, 0);
            applied_[static_cast<std::size_t>(ch)].cc[static_cast<std::size_t>(pedal)] = 0;
        }
    }
    fl().fluid_synth_all_notes_off(synth_, -1);
}

std::pair<int, int> ChannelSync::resolve(int bank, int program, bool drum) const
{
    // As FluidSynth falls back: a missing kit to the standard one, a missing variation to
    // the capital instrument, then to the first.
    fluid_sfont_t* font = fl().fluid_synth_get_sfont_by_id(synth_, soundFont_);
    auto has = [&](int b, int p) { return font && fl().fluid_sfont_get_preset(font, b, p); };
    if (drum)
        return has(kDrumBank, program) ? std::pair{kDrumBank, program} : std::pair{kDrumBank, 0};
    if (has(bank, program))
        return {bank, program};
    return has(0, program) ? std::pair{0, program} : std::pair{0, 0};
}

std::pair<int, int> ChannelSync::presetOf(const MidiState& state, int channel) const
{
    const auto [bank, program] = state.bankAndProgram(channel);
    return resolve(bank, program,
                   state.channels[static_cast<std::size_t>(channel)].drum);
}

void ChannelSync::holdPresets(const Song& song)
{
    // Play the piece through without sound, noting every preset a channel comes to.
    std::vector<std::pair<int, int>> wantedPresets;
    MidiState state = powerOn_;
    auto note = [&](int ch) {
        const auto preset = presetOf(state, ch);
        if (std::find(wantedPresets.begin(), wantedPresets.end(), preset) == wantedPresets.end())
            wantedPresets.push_back(preset);
    };
    for (int ch = 0; ch < 16; ++ch)
        note(ch);
    for (const MidiEvent& e : song.events) {
        const MidiState::Effect effect = state.fold(e, song, powerOn_);
        // Presets change with program changes and with what system exclusive messages
        // set (kinds of part, resets).
        if (effect == MidiState::Effect::Module) {
            for (int ch = 0; ch < 16; ++ch)
                note(ch);
        } else if ((e.status & 0xF0) == 0xC0) {
            note(e.status & 0x0F);
        }
    }
    for (const auto& [bank, program] : wantedPresets)
        fl().fluid_synth_pin_preset(synth_, soundFont_, bank, program);
    // Only now let go of what the last piece held, so shared samples stay loaded.
    for (const auto& preset : held_) {
        if (std::find(wantedPresets.begin(), wantedPresets.end(), preset) == wantedPresets.end())
            fl().fluid_synth_unpin_preset(synth_, soundFont_, preset.first, preset.second);
    }
    held_ = std::move(wantedPresets);
}

} // namespace md
