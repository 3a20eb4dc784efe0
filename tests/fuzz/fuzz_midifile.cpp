// libFuzzer target for the MIDI loader: any input is refused with a reason, or gives a Song
// that keeps every promise of SongInvariants.h; a broken one aborts, and the input is kept.

#include "MidiFile.h"
#include "SongInvariants.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const md::LoadResult r = md::parseMidi(std::span<const uint8_t>(data, size));
    const std::string broken = !r.song ? (r.error.empty() ? "refused without a reason" : "")
        : !r.error.empty() ? "a song and an error" : md::songInvariantViolation(*r.song, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
