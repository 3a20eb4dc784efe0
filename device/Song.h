#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace md {

// One timed MIDI message of a loaded piece, ready to be sent to a synthesizer.
struct MidiEvent {
    int64_t timeNs = 0;     // from the beginning of the piece, tempo map applied
    uint8_t status = 0;     // 0x80..0xEF: channel voice message; 0xF0: system exclusive
    uint8_t data1 = 0;
    uint8_t data2 = 0;      // unused by 0xC0/0xD0 messages
    uint32_t sysex = 0;     // index into Song::sysex when status == 0xF0
};

// A whole piece as the sequencer plays it: every track merged into one time line.
struct Song {
    int format = 0;           // 0, 1 or 2
    int declaredTracks = 0;   // as the header says
    int tracks = 0;           // track chunks actually read
    uint16_t division = 0;    // raw header word: PPQ, or SMPTE when the top bit is set
    int tempoChanges = 0;     // tempo meta events honoured
    // Ordered by time; at equal times, in file order (track by track).
    std::vector<MidiEvent> events;
    // System exclusive bodies without the leading F0 and the closing F7.
    std::vector<std::vector<uint8_t>> sysex;
    // End of Track time of the longest track (format 2: of the last sequence).
    int64_t lengthNs = 0;
    // Damage the loader repaired, one line each (e.g. "track 2: missing End of Track").
    std::vector<std::string> warnings;
    // The instrument bank a RIFF MIDI file carries beside its music (a DLS or SoundFont 2
    // RIFF form), as a file of its own; empty when there is none.
    std::vector<uint8_t> bank;
};

} // namespace md
