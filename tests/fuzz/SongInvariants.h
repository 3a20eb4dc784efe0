#pragma once

// Promises every Song from the loader keeps, whatever the input: the unit test and the fuzzer
// hold the loader to the same rules. Returns "" or the first broken promise.

#include "Song.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace md {

inline std::string songInvariantViolation(const Song& song, std::size_t inputSize)
{
    if (song.format < 0 || song.format > 2 || song.tracks < 1 || std::size_t(song.tracks) > inputSize / 8)
        return "format or track count out of range";
    if (song.lengthNs < 0 || song.lengthNs > 24LL * 3600 * 1'000'000'000 || song.tempoChanges < 0)
        return "length out of range";
    if (song.events.size() > inputSize / 2 || song.warnings.size() > 65)
        return "more events or warnings than the input can hold";
    // The bank is a chunk of the file under a RIFF header of its own.
    if (!song.bank.empty() && (song.bank.size() < 12 || song.bank.size() > inputSize || std::memcmp(song.bank.data(), "RIFF", 4) != 0))
        return "a bank the input cannot hold";
    int64_t previous = 0;
    for (const MidiEvent& e : song.events) {
        if (e.timeNs < previous || e.timeNs > song.lengthNs)
            return "events out of order, or after the end of the piece";
        previous = e.timeNs;
        if (e.status == 0xF0 ? e.sysex >= song.sysex.size() || song.sysex[e.sysex].empty()
                             : e.status < 0x80 || e.status > 0xEF || e.data1 > 0x7F || e.data2 > 0x7F
                    || (((e.status & 0xF0) == 0xC0 || (e.status & 0xF0) == 0xD0) && e.data2 != 0))
            return "an event that cannot be sent as it is";
    }
    return {};
}

} // namespace md
