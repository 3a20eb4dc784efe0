#pragma once

#include <cstdint>
#include <string>

namespace md {

// Device modes, numbered as the multimedia control reports them.
enum class Mode : int {
    NotOpen = 524,
    Stopped = 525,
    Playing = 526,
    Paused = 529,
    Open = 530,
};

// A MIDI sequencer device: what the multimedia control drives. Every command returns
// false when it cannot be carried out and leaves the reason in errorMessage(); none throws.
class Device {
public:
    virtual ~Device() = default;

    // Loads and validates the whole file; on success the mode is Stopped at the beginning.
    // On failure the mode is NotOpen.
    virtual bool open(const std::string& path) = 0;
    virtual bool close() = 0;             // mode NotOpen
    virtual bool play() = 0;              // from the current position; Stopped by itself at the end
    // Stopped or Paused where the piece was heard, notes released.
    virtual bool stop() = 0;
    virtual bool pause() = 0;
    virtual bool prev() = 0;              // to the beginning; if playing, stopped there
    virtual bool next() = 0;              // to the end, stopped there
    virtual bool seek(int64_t ms) = 0;    // to a position (clamped), stopped there

    // The mode the device is in: Stopped as soon as the end of the piece is rendered, when
    // its output can still place what follows right after that end.
    virtual Mode mode() const = 0;
    // The mode the listener hears: Playing until the end of the piece is heard.
    virtual Mode heardMode() const { return mode(); }
    virtual int64_t positionMs() const = 0;
    virtual int64_t lengthMs() const = 0;
    virtual std::string errorMessage() const = 0;   // of the last command that failed
    // Why the open piece cannot be heard: its sound output was lost, or could not be had
    // again. The piece stays open, and the next play tries the output again. Empty while
    // the output works (or no piece is open).
    virtual std::string outputError() const { return {}; }
};

} // namespace md
