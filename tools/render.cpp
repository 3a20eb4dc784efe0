// mellowdeck-render [--soundfont F] [--seconds S] [--loop N] IN OUT.wav
//
// Renders offline, as fast as the machine allows, what the player plays for IN. With
// --loop N the piece plays N times, each pass on the frame after the last one ended (the
// device stops rendering there until it is restarted, as the looping player's own output
// does), the notes still releasing ringing on into it. Exits 2 when IN cannot be opened.

#include "SynthDevice.h"
#include "WavWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: mellowdeck-render [--soundfont F] [--seconds S] [--loop N] IN OUT.wav\n");
    return 64;
}

std::string describeDivision(uint16_t division)
{
    if (division & 0x8000) {
        const int fps = -static_cast<int8_t>(division >> 8);
        return "SMPTE " + std::to_string(fps) + " fps x " + std::to_string(division & 0xFF);
    }
    return std::to_string(division) + " PPQ";
}

} // namespace

int main(int argc, char** argv)
{
    md::SynthOptions options;
    options.realtime = false;
    double maxSeconds = -1;
    long loops = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--soundfont") {
            const char* v = value();
            if (!v)
                return usage();
            options.soundFont = v;
        } else if (arg == "--seconds") {
            const char* v = value();
            if (!v || (maxSeconds = std::atof(v)) <= 0)
                return usage();
        } else if (arg == "--loop") {
            const char* v = value();
            if (!v || (loops = std::atol(v)) < 1)
                return usage();
        } else if (arg.starts_with("--")) {
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2)
        return usage();

    md::SynthDevice device(options);
    if (!device.open(files[0])) {
        std::fprintf(stderr, "%s: %s\n", files[0].c_str(), device.errorMessage().c_str());
        return 2;
    }
    const auto song = device.song();
    const double rate = device.sampleRate();
    const double length = static_cast<double>(device.lengthFrames()) / rate;
    std::printf("format %d, %d track(s), %s, length %.3f s\n", song->format, song->tracks,
                describeDivision(song->division).c_str(), length);
    for (const std::string& warning : song->warnings)
        std::printf("repaired: %s\n", warning.c_str());

    // Every loop, then two seconds of release and reverb tail; or as long as asked.
    const int64_t tail = static_cast<int64_t>(2.0 * rate);
    int64_t total = maxSeconds > 0 ? static_cast<int64_t>(std::ceil(maxSeconds * rate)) : INT64_MAX;
    md::WavWriter wav;
    if (!wav.open(files[1], static_cast<int>(rate))) {
        std::fprintf(stderr, "%s: cannot write the WAV file\n", files[1].c_str());
        return 1;
    }
    constexpr int kBlock = 64;
    float left[kBlock], right[kBlock];
    long plays = 1;
    int64_t done = 0;
    device.play();
    while (done < total) {
        if (device.mode() == md::Mode::Stopped) {
            if (plays < loops) {
                device.prev();
                device.play();
                ++plays;
            } else if (maxSeconds <= 0) {
                total = std::min(total, done + tail);
            }
        }
        const int n = device.render(left, right, static_cast<int>(std::min<int64_t>(kBlock, total - done)),
                                    plays < loops);
        wav.write(left, right, n);
        done += n;
    }
    if (!wav.finish()) {
        std::fprintf(stderr, "%s: cannot write the WAV file\n", files[1].c_str());
        return 1;
    }
    std::printf("rendered %.3f s (%ld play(s)) to %s\n", static_cast<double>(done) / rate, plays,
                files[1].c_str());
    return 0;
}
