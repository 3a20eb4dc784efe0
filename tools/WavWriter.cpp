#include "WavWriter.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

std::vector<uint8_t> header(int sampleRate, uint32_t dataBytes)
{
    std::vector<uint8_t> h{'R', 'I', 'F', 'F'};
    put32(h, 36 + dataBytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(h, 16);
    put16(h, 1);   // PCM
    put16(h, 2);   // stereo
    put32(h, static_cast<uint32_t>(sampleRate));
    put32(h, static_cast<uint32_t>(sampleRate) * 4);
    put16(h, 4);
    put16(h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(h, dataBytes);
    return h;
}

} // namespace

bool WavWriter::open(const std::string& path, int sampleRate)
{
    m_file.reset(std::fopen(path.c_str(), "wb"));
    m_dataBytes = 0;
    m_rate = sampleRate;
    const auto h = header(sampleRate, 0);
    m_ok = m_file && std::fwrite(h.data(), 1, h.size(), m_file.get()) == h.size();
    return m_ok;
}

bool WavWriter::write(const float* left, const float* right, int frames)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        for (float s : {left[i], right[i]})
            put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f))));
    }
    m_dataBytes += bytes.size();
    m_ok = m_ok && m_dataBytes <= 0xFFFFFFFFull - 36
        && std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) == bytes.size();
    return m_ok;
}

bool WavWriter::finish()
{
    if (!m_ok)
        return false;
    const auto h = header(m_rate, static_cast<uint32_t>(m_dataBytes));
    m_ok = std::fseek(m_file.get(), 0, SEEK_SET) == 0
        && std::fwrite(h.data(), 1, h.size(), m_file.get()) == h.size();
    return std::fclose(m_file.release()) == 0 && m_ok;
}

} // namespace md
