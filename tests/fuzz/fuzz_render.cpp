// libFuzzer target for open-then-render: whatever the loader accepts must play on the real
// FluidSynth device without crashing, hanging, producing a non-finite sample or leaving a
// voice sounding after Stop.
//
// Input: byte 0 gives the number of command bytes that follow (0..15, modulo 16); the
// rest is the file. Each command byte picks a transport command (low 3 bits) and how much
// to render after it (high 5 bits), so the fuzzer steers both the file and the timing.
// A broken promise aborts, so the fuzzer records the input as a crash.

#include "MidiFile.h"
#include "SynthDevice.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr double kRate = 22050.0;   // half the usual rate: twice the executions per second
constexpr int kBlock = 512;
// Longest a release may ring after Stop: the slowest SoundFont envelopes plus the tail.
constexpr int64_t kReleaseLimitFrames = int64_t(12 * kRate);

[[noreturn]] void broken(const char* what, const md::SynthDevice& device)
{
    std::fprintf(stderr, "invariant broken: %s (mode %d, position %lld of %lld, voices %d, error \"%s\")\n",
                 what, int(device.mode()), static_cast<long long>(device.positionFrames()),
                 static_cast<long long>(device.lengthFrames()), device.activeVoices(),
                 device.errorMessage().c_str());
    std::abort();
}

bool validMode(md::Mode m)
{
    switch (m) {
    case md::Mode::NotOpen:
    case md::Mode::Stopped:
    case md::Mode::Playing:
    case md::Mode::Paused:
    case md::Mode::Open:
        return true;
    }
    return false;
}

void checkState(const md::SynthDevice& device)
{
    if (!validMode(device.mode()))
        broken("mode is none of the five", device);
    const int64_t position = device.positionFrames();
    if (position < 0 || position > device.lengthFrames())
        broken("position outside the piece", device);
}

void render(md::SynthDevice& device, int64_t frames)
{
    static std::array<float, kBlock> left, right;
    for (int64_t done = 0; done < frames; done += kBlock) {
        const int n = int(std::min<int64_t>(kBlock, frames - done));
        device.render(left.data(), right.data(), n);
        for (int i = 0; i < n; ++i) {
            if (!std::isfinite(left[std::size_t(i)]) || !std::isfinite(right[std::size_t(i)]))
                broken("non-finite sample", device);
        }
        checkState(device);
    }
}

md::SynthDevice& device()
{
    static md::SynthDevice* d = [] {
        md::SynthOptions o;
        o.realtime = false;
        o.sampleRate = kRate;
        // The small font loads in a moment; the program's choice otherwise.
        if (::access("/usr/share/sounds/sf2/TimGM6mb.sf2", R_OK) == 0)
            o.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
        return new md::SynthDevice(o);
    }();
    return *d;
}

const std::string& scratchPath()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/mellowdeck-fuzz-render-XXXXXX";
        const int fd = ::mkstemp(p.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        ::close(fd);
        return p;
    }();
    return path;
}

bool writeScratch(const uint8_t* data, size_t size)
{
    const int fd = ::open(scratchPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::close(fd);
    return done == size;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::atexit([] { ::unlink(scratchPath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t count = std::min<size_t>(data[0] % 16, size - 1);
    const uint8_t* commands = data + 1;
    const uint8_t* file = data + 1 + count;
    const size_t fileSize = size - 1 - count;

    // Parsing in memory first skips the file system for the many inputs that are refused.
    if (!md::parseMidi(std::span<const uint8_t>(file, fileSize)).song)
        return 0;
    if (!writeScratch(file, fileSize))
        std::abort();

    md::SynthDevice& dev = device();
    if (!dev.open(scratchPath())) {
        std::fprintf(stderr, "the loader accepted it but the device did not: %s\n", dev.errorMessage().c_str());
        std::abort();
    }
    checkState(dev);
    if (dev.mode() != md::Mode::Stopped || dev.positionFrames() != 0)
        broken("not stopped at the beginning after open", dev);

    dev.play();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = commands[i];
        const int64_t frames = int64_t(c >> 3) * 256;   // up to 7936 frames, about 0.36 s
        switch (c & 7) {
        case 0: dev.play(); break;
        case 1: dev.stop(); break;
        case 2: dev.prev(); break;
        case 3: dev.pause(); break;
        case 4: dev.next(); break;
        case 5: dev.seek(dev.lengthMs() * (c >> 3) / 31); break;
        case 6: dev.seek(int64_t(c >> 3) * 1000 - 4000); break;   // negative ones too
        case 7: dev.prev(); dev.play(); break;                     // what the poll does
        }
        checkState(dev);
        render(dev, frames);
    }

    // Whatever came before, Stop must silence it within the release time.
    dev.stop();
    if (dev.mode() != md::Mode::Stopped)
        broken("not stopped after Stop", dev);
    int64_t rendered = 0;
    while (dev.activeVoices() > 0) {
        if (rendered > kReleaseLimitFrames)
            broken("a voice still sounds long after Stop", dev);
        render(dev, 4096);
        rendered += 4096;
    }
    dev.close();
    if (dev.mode() != md::Mode::NotOpen)
        broken("still open after Close", dev);
    return 0;
}
