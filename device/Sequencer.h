#pragma once

#include "MidiState.h"
#include "Song.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace md {

// What the events before a position left on the synthesizer.
struct Chase {
    MidiState state;
    std::vector<std::size_t> passOn;   // events the synthesizer keeps itself, in order
};

// The play cursor over a loaded Song, in sample frames. It only tells which events are
// due; the device sends them to the synthesizer.
class Sequencer {
public:
    void load(std::shared_ptr<const Song> song, double sampleRate);
    void clear();

    const std::shared_ptr<const Song>& song() const { return song_; }
    bool loaded() const { return song_ != nullptr; }
    int64_t position() const { return position_; }
    int64_t length() const { return length_; }
    bool atEnd() const { return position_ >= length_; }

    // Moves to `frame`, clamped to the piece; the next events due are those at or after it.
    void seek(int64_t frame);

    // Frames from the position to the next event or the end, capped at `limit`.
    int64_t framesUntilNext(int64_t limit) const;

    // Hands the events due at the current position to `send`, in order, at most `limit`
    // of them; returns true when more are still due.
    template <class Send>
    bool dispatchDue(Send&& send, std::size_t limit = SIZE_MAX)
    {
        while (next_ < frames_.size() && frames_[next_] <= position_) {
            if (limit-- == 0)
                return true;
            send(song_->events[next_]);
            ++next_;
        }
        return false;
    }

    // Moves on; a burst of events still being sent at the end keeps the position there.
    void advance(int64_t frames) { position_ = std::min(position_ + frames, length_); }

    // The state the events before the cursor leave, from `powerOn`. Pedals are left up:
    // the notes they held are not sounding at the cursor.
    Chase chase(const MidiState& powerOn) const;

private:
    int64_t frameOf(int64_t timeNs) const;

    std::shared_ptr<const Song> song_;
    std::vector<int64_t> frames_;   // each event's frame, parallel to song_->events
    double sampleRate_ = 44100.0;
    int64_t length_ = 0;
    int64_t position_ = 0;
    std::size_t next_ = 0;
};

} // namespace md
