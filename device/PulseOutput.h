#pragma once

#include "AudioOutput.h"

#include <memory>
#include <string>

namespace md {

// Plays `source` on the desktop's sound server through libpulse's asynchronous API (PulseAudio,
// or PipeWire's PulseAudio server). libpulse is loaded the first time, like FluidSynth.
//
// It keeps a long buffer queued and is asked for audio a few tens of milliseconds at a time,
// so neither the player nor the server wakes every few milliseconds. discard() has what is
// queued but not yet heard rewritten from just ahead of what is being heard, crossfaded
// from the audio that was there, so commands are heard at once and without a click. Once the
// source has nothing to sound and what was queued has been played, the stream is corked,
// letting the server suspend the sound card; wake() takes it back.
//
// Returns null and sets `error` when no server answers within a couple of seconds.
std::unique_ptr<AudioOutput> openPulseOutput(AudioSource& source, double sampleRate,
                                             std::string& error);

} // namespace md
