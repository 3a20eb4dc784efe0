#pragma once

#include "AudioOutput.h"

#include <memory>
#include <string>

namespace md {

// Plays `source` on the desktop's sound server (PulseStream: PulseAudio, or PipeWire's
// PulseAudio server).
//
// It keeps a long buffer queued and is asked for audio a few tens of milliseconds at a time,
// so neither the player nor the server wakes every few milliseconds. discard() has what is
// queued but not yet heard rewritten from as soon after what is heard as the sink allows
// (OutputTimeline), fading out the audio that was there, and tells the source how much it
// replaced. A piece that ends by itself is held at its end: follow() lets the next pass go on
// from the frame after it. Once the source has nothing to sound and what was queued has
// been played, the stream is corked, letting the server suspend the sound card; wake() takes
// it back.
//
// Returns null and sets `error` when no server answers within a couple of seconds.
std::unique_ptr<AudioOutput> openPulseOutput(AudioSource& source, double sampleRate,
                                             std::string& error);

} // namespace md
