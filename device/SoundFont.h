#pragma once

#include <string>
#include <vector>

namespace md {

// Environment variable naming the SoundFont to use instead of the system's.
inline constexpr const char* kSoundFontVariable = "MELLOWDECK_SOUNDFONT";

// The places a General MIDI SoundFont is looked for, best first.
std::vector<std::string> soundFontCandidates();

// The SoundFont to load: $MELLOWDECK_SOUNDFONT when set (even if it is unusable, so that
// a mistyped override is reported rather than silently replaced), else the first
// readable candidate; empty when there is none.
std::string findSoundFont();

// What to tell the user when no SoundFont can be loaded.
std::string missingSoundFontMessage();

} // namespace md
