// libFuzzer target for long inputs: the input describes a MIDI file as spans of bytes each
// repeated a number of times, so a file that repeats an event hundreds of thousands of times
// is one mutation away. The file is loaded and held to SongInvariants.h, and every event is
// folded into the module's state as Open does, then chased to the middle as a seek does.
//
// Input: format, declared tracks (2 bytes), division (2 bytes), then spans, each a length L,
// a count byte and L bytes repeated count times; L = 0 ends the track chunk and begins
// another. Files are cut at 2 MiB, room for some 700,000 events of three bytes.

#include "MidiFile.h"
#include "MidiState.h"
#include "Sequencer.h"
#include "SongInvariants.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kMaxFile = 2u << 20;

void be(std::vector<uint8_t>& out, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> expand(const uint8_t* data, std::size_t size)
{
    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, data[0], data[1], data[2], data[3], data[4]};
    std::size_t chunk = 0;   // where the open track chunk's header is
    auto begin = [&] {
        chunk = file.size();
        file.insert(file.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    };
    auto end = [&] {
        std::vector<uint8_t> length;
        be(length, uint32_t(file.size() - chunk - 8), 4);
        std::copy(length.begin(), length.end(), file.begin() + std::ptrdiff_t(chunk + 4));
    };
    begin();
    for (std::size_t at = 5; at < size;) {
        const std::size_t length = data[at++];
        if (length == 0) {
            end();
            begin();
            continue;
        }
        if (at == size)
            break;
        // One byte: 1-32 times, by 256 from C0, by 65536 from E0. Most mutations give small
        // counts, so most runs stay quick, but a million is one byte away.
        const uint8_t c = data[at++];
        const std::size_t count = std::size_t((c & 0x1F) + 1) << (c >= 0xE0 ? 16 : c >= 0xC0 ? 8 : 0);
        if (size - at < length)
            break;
        // Copy the span once, then what is there already, doubling up to count or the cut.
        const std::size_t from = file.size();
        const std::size_t total = std::min(count, (kMaxFile - std::min(kMaxFile, from)) / length) * length;
        file.resize(from + total);
        const auto start = file.begin() + std::ptrdiff_t(from);
        std::copy_n(data + at, std::min(length, total), start);
        for (std::size_t done = length; done < total; done *= 2)
            std::copy_n(start, std::min(done, total - done), start + std::ptrdiff_t(done));
        at += length;
    }
    end();
    return file;
}

[[noreturn]] void broken(const std::string& what)
{
    std::fprintf(stderr, "broken: %s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// A quarter of the mutations give one span a count of hundreds or hundreds of thousands: a
// random byte change lands on the right count byte too rarely to make long files often.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    std::minstd_rand random(seed);
    if (size > 5 && random() % 4 == 0) {
        std::vector<std::size_t> counts;   // where each span's count byte is
        for (std::size_t at = 5; at + 1 < size; at += data[at] == 0 ? 1 : 2 + data[at])
            if (data[at] != 0)
                counts.push_back(at + 1);
        if (!counts.empty()) {
            data[counts[random() % counts.size()]] = uint8_t(0xC0 + random() % 64);
            return size;
        }
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const std::vector<uint8_t> file = expand(data, size);
    md::LoadResult r = md::parseMidi(file);
    if (!r.song) {
        if (r.error.empty())
            broken("refused without a reason");
        return 0;
    }
    if (const std::string b = md::songInvariantViolation(*r.song, file.size()); !b.empty())
        broken(b);
    auto song = std::make_shared<const md::Song>(std::move(*r.song));
    const md::MidiState powerOn;
    md::MidiState state = powerOn;
    for (const md::MidiEvent& e : song->events)
        state.fold(e, *song, powerOn);
    md::Sequencer sequencer;
    sequencer.load(song, 44100);
    sequencer.seek(sequencer.length() / 2);
    sequencer.chase(powerOn);
    return 0;
}
