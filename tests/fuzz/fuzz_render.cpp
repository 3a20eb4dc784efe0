// libFuzzer target for open-then-render: whatever the loader accepts must play on the real device with no
// crash, non-finite sample or voice left sounding after Stop. Byte 0: how many command bytes follow
// (modulo 16), each a transport command (low 3 bits) and how long to render after it; the rest: the file.

#include "MidiFile.h"
#include "SynthDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

void render(md::SynthDevice& device, int frames)
{
    float left[512], right[512];
    for (int done = 0; done < frames; done += 512) {
        device.render(left, right, 512);
        if (!std::all_of(left, left + 512, [](float v) { return std::isfinite(v); }))
            broken("a sample that is not a number");
        if (device.positionFrames() < 0 || device.positionFrames() > device.lengthFrames())
            broken("position outside the piece");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static md::SynthDevice device([] {
        md::SynthOptions o;
        o.realtime = false;
        o.sampleRate = 22050;   // half the usual rate: twice the runs
        o.soundFont = MELLOWDECK_TEST_SOUNDFONT;
        return o;
    }());
    static const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/mellowdeck-fuzz.mid";
    if (size < 1)
        return 0;
    const size_t count = std::min<size_t>(data[0] % 16, size - 1);
    const uint8_t* file = data + 1 + count;
    const size_t fileSize = size - 1 - count;
    if (!md::parseMidi(std::span<const uint8_t>(file, fileSize)).song)
        return 0;   // refusals are the loader fuzzer's
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(file), std::streamsize(fileSize));
    if (!device.open(path))
        broken("the loader took a file the device did not");
    device.play();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = data[1 + i];
        switch (c & 7) {
        case 0: device.play(); break;
        case 1: device.stop(); break;
        case 2: device.prev(); break;
        case 3: device.pause(); break;
        case 4: device.next(); break;
        case 5: device.seek(device.lengthMs() * (c >> 3) / 31); break;
        case 6: device.seek(int64_t(c >> 3) * 1000 - 4000); break;
        default: device.prev(); device.play(); break;   // what the poll does
        }
        render(device, (c >> 3) * 256);
    }
    device.stop();
    for (int waited = 0; device.activeVoices() > 0; waited += 4096) {
        if (waited > 22050)
            broken("a voice still sounds a second after Stop");
        render(device, 4096);
    }
    device.close();
    return 0;
}
