#include "WavWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace md {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((v >> shift) & 0xFF));
}

} // namespace

bool writeWav(const std::string& path, const std::vector<float>& interleaved, int sampleRate)
{
    const uint64_t dataBytes = interleaved.size() * 2;
    if (dataBytes > 0xFFFFFFFFull - 36)
        return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(44 + dataBytes);
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    put32(bytes, static_cast<uint32_t>(36 + dataBytes));
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(bytes, 16);
    put16(bytes, 1);                                   // PCM
    put16(bytes, 2);                                   // stereo
    put32(bytes, static_cast<uint32_t>(sampleRate));
    put32(bytes, static_cast<uint32_t>(sampleRate) * 4);
    put16(bytes, 4);
    put16(bytes, 16);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    put32(bytes, static_cast<uint32_t>(dataBytes));
    for (float s : interleaved) {
        const long v = std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f);
        put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

} // namespace md
