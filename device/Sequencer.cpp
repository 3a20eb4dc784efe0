#include "Sequencer.h"

#include <algorithm>
#include <cmath>

namespace md {

int64_t Sequencer::frameOf(int64_t timeNs) const
{
    return static_cast<int64_t>(std::llround(static_cast<double>(timeNs) * sampleRate_ / 1e9));
}

void Sequencer::load(std::shared_ptr<const Song> song, double sampleRate)
{
    song_ = std::move(song);
    sampleRate_ = sampleRate;
    frames_.clear();
    if (!song_) {
        clear();
        return;
    }
    frames_.reserve(song_->events.size());
    for (const MidiEvent& e : song_->events)
        frames_.push_back(frameOf(e.timeNs));
    length_ = std::max<int64_t>(frameOf(song_->lengthNs), frames_.empty() ? 0 : frames_.back());
    position_ = 0;
    next_ = 0;
}

void Sequencer::clear()
{
    song_.reset();
    frames_.clear();
    length_ = 0;
    position_ = 0;
    next_ = 0;
}

void Sequencer::seek(int64_t frame)
{
    position_ = std::clamp<int64_t>(frame, 0, length_);
    next_ = static_cast<std::size_t>(
        std::lower_bound(frames_.begin(), frames_.end(), position_) - frames_.begin());
}

int64_t Sequencer::framesUntilNext(int64_t limit) const
{
    int64_t until = length_ - position_;
    if (next_ < frames_.size())
        until = std::min(until, frames_[next_] - position_);
    return std::clamp<int64_t>(until, 0, limit);
}

ChaseState Sequencer::chase() const
{
    ChaseState state;
    if (!song_)
        return state;
    for (std::size_t i = 0; i < next_; ++i) {
        const MidiEvent& e = song_->events[i];
        if (e.status == 0xF0) {
            state.sysex.push_back(e.sysex);
            continue;
        }
        ChaseState::Channel& ch = state.channels[e.status & 0x0F];
        switch (e.status & 0xF0) {
        case 0xB0:
            ch.cc[e.data1 & 0x7F] = e.data2;
            break;
        case 0xC0:
            ch.program = e.data1;
            break;
        case 0xD0:
            ch.pressure = e.data1;
            break;
        case 0xE0:
            ch.pitchBend = (e.data2 << 7) | e.data1;
            break;
        default:
            break;
        }
    }
    return state;
}

} // namespace md
