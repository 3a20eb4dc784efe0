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

Chase Sequencer::chase(const MidiState& powerOn) const
{
    Chase chase{powerOn, {}};
    if (!song_)
        return chase;
    for (std::size_t i = 0; i < next_; ++i) {
        if (chase.state.fold(song_->events[i], *song_, powerOn) == MidiState::Effect::PassOn)
            chase.passOn.push_back(i);
    }
    for (ChannelState& c : chase.state.channels)
        c.cc[64] = c.cc[66] = 0;
    return chase;
}

} // namespace md
