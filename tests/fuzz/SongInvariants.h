#pragma once

// Promises every Song from the loader keeps, whatever the input. Shared by the unit test
// and the fuzzer so both hold the loader to the same rules.

#include "Song.h"

#include <cstddef>
#include <string>

namespace md {

// Returns "" when `song`, parsed from `inputSize` bytes, keeps every promise, or the first
// broken one.
inline std::string songInvariantViolation(const Song& song, std::size_t inputSize)
{
    constexpr int64_t kDay = 24LL * 3600 * 1'000'000'000;
    if (song.format < 0 || song.format > 2)
        return "format out of range";
    if (song.tracks < 1 || std::size_t(song.tracks) > inputSize / 8)
        return "track count out of range";
    if (song.lengthNs < 0 || song.lengthNs > kDay)
        return "length out of range";
    if (song.tempoChanges < 0)
        return "negative tempo change count";
    if (song.events.size() > inputSize / 2)
        return "more events than the input can hold";
    if (song.warnings.size() > 65)
        return "warning list not bounded";
    int64_t previous = 0;
    for (const MidiEvent& e : song.events) {
        if (e.timeNs < previous)
            return "events not ordered by time";
        previous = e.timeNs;
        if (e.timeNs > song.lengthNs)
            return "event after the end of the piece";
        if (e.status == 0xF0) {
            if (e.sysex >= song.sysex.size())
                return "sysex index out of range";
            if (song.sysex[e.sysex].empty())
                return "empty sysex message";
        } else if (e.status < 0x80 || e.status > 0xEF) {
            return "status byte out of range";
        } else if (e.data1 > 0x7F || e.data2 > 0x7F) {
            return "data byte out of range";
        } else if (((e.status & 0xF0) == 0xC0 || (e.status & 0xF0) == 0xD0) && e.data2 != 0) {
            return "second data byte on a one-byte message";
        }
    }
    return {};
}

} // namespace md
