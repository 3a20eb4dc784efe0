#pragma once

#include <fluidsynth.h>

#include <string>

namespace md {

// The FluidSynth functions the device uses, looked up when the first synthesizer is made
// rather than linked with the program: the library brings some forty others with it
// (sound servers, codecs, GLib), and mapping them all at launch took longer than building
// the whole window.
#define MD_FLUID_FUNCTIONS(X) \
    X(delete_fluid_audio_driver) \
    X(delete_fluid_settings) \
    X(delete_fluid_synth) \
    X(fluid_set_log_function) \
    X(fluid_settings_setint) \
    X(fluid_settings_setnum) \
    X(fluid_settings_setstr) \
    X(fluid_sfont_get_preset) \
    X(fluid_synth_activate_key_tuning) \
    X(fluid_synth_activate_tuning) \
    X(fluid_synth_all_notes_off) \
    X(fluid_synth_cc) \
    X(fluid_synth_deactivate_tuning) \
    X(fluid_synth_get_basic_channel) \
    X(fluid_synth_channel_pressure) \
    X(fluid_synth_get_active_voice_count) \
    X(fluid_synth_get_cc) \
    X(fluid_synth_get_polyphony) \
    X(fluid_synth_get_program) \
    X(fluid_synth_get_sfont_by_id) \
    X(fluid_synth_get_voicelist) \
    X(fluid_synth_key_pressure) \
    X(fluid_synth_noteoff) \
    X(fluid_synth_noteon) \
    X(fluid_synth_pin_preset) \
    X(fluid_synth_pitch_bend) \
    X(fluid_synth_pitch_wheel_sens) \
    X(fluid_synth_process) \
    X(fluid_synth_program_select) \
    X(fluid_synth_reset_basic_channel) \
    X(fluid_synth_set_basic_channel) \
    X(fluid_synth_set_channel_type) \
    X(fluid_synth_set_gen) \
    X(fluid_synth_sfload) \
    X(fluid_synth_sfunload) \
    X(fluid_synth_sysex) \
    X(fluid_synth_unset_program) \
    X(fluid_synth_unpin_preset) \
    X(fluid_voice_gen_set) \
    X(fluid_voice_get_channel) \
    X(fluid_voice_get_id) \
    X(fluid_voice_get_key) \
    X(fluid_voice_is_playing) \
    X(fluid_voice_update_param) \
    X(new_fluid_audio_driver2) \
    X(new_fluid_settings) \
    X(new_fluid_synth)

struct FluidApi {
#define MD_FLUID_POINTER(name) decltype(&::name) name = nullptr;
    MD_FLUID_FUNCTIONS(MD_FLUID_POINTER)
#undef MD_FLUID_POINTER
    std::string error;   // why the library could not be used; empty when every pointer is set
};

// Loads the library the first time it is called, from any thread, and returns the same
// answer ever after.
const FluidApi& fl();

} // namespace md
