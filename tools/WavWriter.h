#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace md {

// Writes interleaved stereo float samples as a 16-bit PCM WAV file. Returns false on error.
bool writeWav(const std::string& path, const std::vector<float>& interleaved, int sampleRate);

} // namespace md
