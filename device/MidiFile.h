#pragma once

#include "Song.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace md {

inline constexpr std::size_t kMaxMidiFileBytes = 64u * 1024u * 1024u;

struct LoadResult {
    std::optional<Song> song;   // set on success
    std::string error;          // set on failure: a short, specific reason
};

// Parses a Standard MIDI File (format 0, 1 or 2) or a RIFF "RMID" file held in memory.
// Never reads outside `bytes`; every allocation is bounded by the input size.
//
// Plainly meant damage is repaired and noted in Song::warnings (at most 64 lines plus a
// count): missing or truncated End of Track, a track or chunk running past the end, fewer
// or more track chunks than declared, unknown chunks, stray system bytes in a track,
// trailing garbage, tempo events of zero (ignored). Refusals give one short lowercase
// reason, e.g. "file is empty", "not a MIDI file: no MThd header", "bad MIDI header: ...",
// "unsupported MIDI format 3", "no playable track" (no track chunk at all),
// "piece is longer than 24 hours", "file is larger than 64 MiB".
// A file whose tracks hold no events still loads: a silent piece of its End of Track length.
// An RMID file's own instrument bank (a "DLS " or "sfbk" form in a RIFF or LIST chunk beside
// "data") is kept whole in Song::bank, unread.
// Times are exact integers, floored to the nanosecond. Format 2 sequences each start at
// 120 BPM and play one after another.
LoadResult parseMidi(std::span<const uint8_t> bytes);

// Reads and parses the file at `path`. Refuses what is not a regular, readable file
// of at most kMaxMidiFileBytes, without blocking on FIFOs or device nodes.
LoadResult loadMidiFile(const std::string& path);

} // namespace md
