#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace md {

// Writes stereo float samples to a 16-bit PCM WAV file as they come, so that a long render
// needs no buffer of its whole length; the header's sizes are filled in by finish().
class WavWriter {
public:
    bool open(const std::string& path, int sampleRate);
    // Appends `frames` frames from two planar buffers.
    bool write(const float* left, const float* right, int frames);
    // Completes the header; false when anything failed to be written.
    bool finish();

private:
    std::unique_ptr<FILE, int (*)(FILE*)> m_file{nullptr, &std::fclose};
    uint64_t m_dataBytes = 0;
    int m_rate = 0;
    bool m_ok = false;
};

} // namespace md
