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
LoadResult parseMidi(std::span<const uint8_t> bytes);

// Reads and parses the file at `path`. Refuses what is not a regular, readable file
// of at most kMaxMidiFileBytes, without blocking on FIFOs or device nodes.
LoadResult loadMidiFile(const std::string& path);

} // namespace md
