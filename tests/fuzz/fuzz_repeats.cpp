// libFuzzer target for long inputs: the input describes a MIDI file as spans of bytes each
// repeated a number of times, so a file that repeats an event hundreds of thousands of times
// is one mutation away. The file is loaded and held to SongInvariants.h, and every event is
// folded into the module's state as Open does, then chased to the middle as a seek does.
//
// Input: format, declared tracks (2 bytes), division (2 bytes), then spans, each a length L,
// a count (a variable-length quantity of up to 4 bytes, as delta times are written) and L
// bytes repeated count times (at least once); L = 0 ends the track chunk and begins another.
// Files are cut at 2 MiB, room for some 700,000 events of three bytes.

#include "MidiFile.h"
#include "MidiState.h"
#include "Sequencer.h"
#include "SongInvariants.h"

#include <cstdio>
#include <cstdlib>
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
        // Small counts are the likelier ones to come from a mutation, so most runs stay quick.
        uint32_t count = 0;
        int digits = 0;
        while (at < size && digits < 4) {
            ++digits;
            count = count << 7 | (data[at] & 0x7F);
            if (!(data[at++] & 0x80))
                break;
        }
        if (size - at < length)
            break;
        const uint8_t* span = data + at;
        at += length;
        for (uint32_t i = 0; i == 0 || i < count; ++i) {
            if (file.size() + length > kMaxFile)
                break;
            file.insert(file.end(), span, span + length);
        }
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
