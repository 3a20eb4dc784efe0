// libFuzzer target for long files, loaded, held to SongInvariants.h and folded into the module's state as
// Open does. The input is the file as spans of bytes each repeated, so an event repeated hundreds of thousands
// of times is one mutation away: format, tracks (2 bytes), division (2 bytes), then spans, each a length L, a
// count byte and L bytes; L = 0 begins another track. Files are cut at 2 MiB, some 700,000 events of 3 bytes.

#include "MidiFile.h"
#include "MidiState.h"
#include "SongInvariants.h"

#include <cstdlib>
#include <random>

namespace {

constexpr std::size_t kMaxFile = 2u << 20;

std::vector<uint8_t> expand(const uint8_t* data, std::size_t size)
{
    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, data[0], data[1], data[2], data[3], data[4]}, track;
    auto close = [&] {
        const auto n = uint32_t(track.size());
        file.insert(file.end(), {'M', 'T', 'r', 'k', uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        file.insert(file.end(), track.begin(), track.end());
        track.clear();
    };
    for (std::size_t at = 5; at < size;) {
        const std::size_t length = data[at++];
        if (length == 0) {
            close();
            continue;
        }
        if (size - at < 1 + length)
            break;
        // The count: 1-32, times 256 from C0, 65536 from E0; small counts keep most runs quick.
        const uint8_t c = data[at++];
        const std::size_t count = std::size_t((c & 0x1F) + 1) << (c >= 0xE0 ? 16 : c >= 0xC0 ? 8 : 0);
        for (std::size_t i = 0; i < count && file.size() + track.size() + length <= kMaxFile; ++i)
            track.insert(track.end(), data + at, data + at + length);
        at += length;
    }
    close();
    return file;
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// A quarter of the mutations give one span a count of hundreds or hundreds of thousands: a
// random byte change lands on the right count byte too rarely to make long files often.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    std::minstd_rand random(seed);
    std::size_t count = 0, spans = 0;   // a span's count byte, each as likely as the others
    for (std::size_t at = 5; at + 1 < size; at += data[at] == 0 ? 1 : 2 + data[at])
        if (data[at] != 0 && random() % ++spans == 0)
            count = at + 1;
    if (count == 0 || random() % 4 != 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    data[count] = uint8_t(0xC0 + random() % 64);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const std::vector<uint8_t> file = expand(data, size);
    const md::LoadResult r = md::parseMidi(file);
    if (r.song ? !md::songInvariantViolation(*r.song, file.size()).empty() : r.error.empty())
        std::abort();   // a song that breaks a promise, or a refusal without a reason
    const md::MidiState powerOn;
    md::MidiState state = powerOn;
    for (std::size_t i = 0; r.song && i < r.song->events.size(); ++i)
        state.fold(r.song->events[i], *r.song, powerOn);
    return 0;
}
