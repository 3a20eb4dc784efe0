// libFuzzer target for the MIDI loader: any input must either be refused with a reason or
// give a Song that keeps every promise in SongInvariants.h. A broken promise aborts, so the
// fuzzer records the input as a crash.

#include "MidiFile.h"
#include "SongInvariants.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const md::LoadResult r = md::parseMidi(std::span<const uint8_t>(data, size));
    if (!r.song) {
        if (r.error.empty()) {
            std::fprintf(stderr, "refused without a reason\n");
            std::abort();
        }
        return 0;
    }
    if (!r.error.empty()) {
        std::fprintf(stderr, "song and error both set: %s\n", r.error.c_str());
        std::abort();
    }
    const std::string broken = md::songInvariantViolation(*r.song, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
