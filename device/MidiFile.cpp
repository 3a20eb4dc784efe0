// The MIDI file loader: turns the bytes of a Standard MIDI File (or of a RIFF "RMID" file
// wrapping one) into a Song, one time line of timed messages for the sequencer.
//
// Policy, in short:
//  - Everything is bounded by the input: no read outside the span, no allocation that the
//    input size cannot justify. Every stored event costs at least two input bytes (a delta
//    time and a data byte), so events <= size / 2; tracks <= size / 8 (one chunk header each).
//  - Damage whose meaning is plain is repaired and reported in Song::warnings (missing End of
//    Track, truncated track, unknown chunks, stray system bytes, trailing garbage...).
//    Warnings are capped so a hostile file cannot make millions of strings.
//  - What is not MIDI at all is refused with one short lowercase reason.
//  - Times are computed with exact 64-bit integer arithmetic (floor of the exact value in
//    nanoseconds), with overflow detection; a piece longer than 24 hours is refused, which
//    also keeps every product well inside int64. A segment of the tempo map may itself come
//    close to 2^63 ns, so it is compared with what is left of the 24 hours, never added
//    to the time before it first.
//  - A tempo of 0 microseconds per quarter note would make time stand still; such tempo
//    events are ignored with a warning.
//  - A file whose tracks hold no events is still a valid (silent) piece: its length is its
//    End of Track time, possibly 0. Only a file without any track chunk is refused.

#include "MidiFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace md {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kMaxLengthNs = 24LL * 3600 * kNsPerSecond;
constexpr uint32_t kDefaultTempoUs = 500'000; // 120 quarter notes per minute
constexpr std::size_t kMaxWarnings = 64;

uint32_t be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t le32(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
bool hasId(std::span<const uint8_t> b, std::size_t at, std::string_view id)
{
    return at + 4 <= b.size() && std::memcmp(b.data() + at, id.data(), 4) == 0;
}
bool printableId(const uint8_t* p)
{
    return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Collects repair notes, keeping the list short whatever the input.
class Warnings {
public:
    void add(std::string line)
    {
        if (lines_.size() < kMaxWarnings)
            lines_.push_back(std::move(line));
        else
            ++dropped_;
    }
    std::vector<std::string> take()
    {
        if (dropped_ > 0)
            lines_.push_back(std::to_string(dropped_) + " more problems not listed");
        return std::move(lines_);
    }

private:
    std::vector<std::string> lines_;
    std::size_t dropped_ = 0;
};

// floor(a * b / c) for a >= 0, b > 0, c > 0, or nullopt when it does not fit in int64.
// Split as (a / c) * b + (a % c) * b / c; callers keep (c - 1) * b inside int64.
std::optional<int64_t> mulDiv(int64_t a, int64_t b, int64_t c)
{
    int64_t whole = 0;
    if (__builtin_mul_overflow(a / c, b, &whole))
        return std::nullopt;
    int64_t result = 0;
    if (__builtin_add_overflow(whole, (a % c) * b / c, &result))
        return std::nullopt;
    return result;
}

struct TempoChange {
    int64_t tick;
    uint32_t usPerQuarter;
};

// One track as read from its chunk. Event times hold ticks until the tempo map is applied.
struct Track {
    std::size_t first = 0; // index range in the shared event list
    std::size_t last = 0;
    int64_t endTick = 0;
    std::vector<TempoChange> tempos;
};

// Turns ticks into nanoseconds for one tempo map (PPQ) or for SMPTE timing. The start time
// of every tempo segment is computed once, so each lookup is a binary search: many tracks
// over a long tempo map stay cheap.
class Clock {
public:
    Clock(uint16_t division, const std::vector<TempoChange>& tempos)
    {
        if (division & 0x8000) {
            // Ticks per second = frames per second * ticks per frame; 29.97 is 30000/1001.
            smpte_ = true;
            const int fps = -int(int8_t(division >> 8));
            const int64_t perFrame = division & 0xFF;
            if (fps == 29) {
                tickNum_ = 1001 * kNsPerSecond;
                tickDen_ = 30000 * perFrame;
            } else {
                tickNum_ = kNsPerSecond;
                tickDen_ = fps * perFrame;
            }
            return;
        }
        ppq_ = division;
        segments_.push_back({0, 0, kDefaultTempoUs});
        segments_.reserve(tempos.size() + 1);
        for (const TempoChange& t : tempos) {
            const Segment& prev = segments_.back();
            auto ns = segmentNs(t.tick - prev.tick, prev.usPerQuarter);
            if (!ns || *ns > kMaxLengthNs - prev.ns) {
                limitTick_ = t.tick; // everything from here on lies beyond 24 hours
                break;
            }
            segments_.push_back({t.tick, prev.ns + *ns, t.usPerQuarter});
        }
    }

    // Nanoseconds at `tick`, or nullopt when that is beyond 24 hours.
    std::optional<int64_t> toNs(int64_t tick) const
    {
        if (smpte_) {
            auto ns = mulDiv(tick, tickNum_, tickDen_);
            if (!ns || *ns > kMaxLengthNs)
                return std::nullopt;
            return ns;
        }
        if (tick >= limitTick_)
            return std::nullopt;
        // The last segment starting at or before `tick`; at equal ticks the last change wins.
        auto it = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                   [](int64_t t, const Segment& s) { return t < s.tick; });
        const Segment& seg = *std::prev(it);
        auto ns = segmentNs(tick - seg.tick, seg.usPerQuarter);
        if (!ns || *ns > kMaxLengthNs - seg.ns)
            return std::nullopt;
        return seg.ns + *ns;
    }

private:
    struct Segment {
        int64_t tick;
        int64_t ns;
        uint32_t usPerQuarter;
    };

    std::optional<int64_t> segmentNs(int64_t ticks, uint32_t usPerQuarter) const
    {
        // (ppq - 1) * usPerQuarter * 1000 < 2^15 * 2^24 * 2^10: no overflow inside mulDiv.
        return mulDiv(ticks, int64_t(usPerQuarter) * 1000, ppq_);
    }

    bool smpte_ = false;
    int64_t ppq_ = 1;
    int64_t tickNum_ = 0, tickDen_ = 1;
    std::vector<Segment> segments_;
    int64_t limitTick_ = INT64_MAX;
};

// Data bytes that follow each system common / real-time status. These bytes are illegal in
// a track, but skipping them with their data keeps the rest of the track in step.
int systemDataBytes(uint8_t status)
{
    switch (status) {
    case 0xF1: case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

int channelDataBytes(uint8_t status) { return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2; }

class TrackReader {
public:
    TrackReader(std::span<const uint8_t> data, int number, Song& song, Warnings& warnings)
        : d_(data), number_(number), song_(song), warnings_(warnings)
    {
    }

    Track read()
    {
        Track track;
        track.first = song_.events.size();
        uint8_t running = 0;
        bool ended = false;
        while (pos_ < d_.size()) {
            auto delta = readVlq();
            if (!delta) {
                warn("bad delta time, rest of track ignored");
                break;
            }
            tick_ += *delta;
            if (pos_ >= d_.size()) {
                warn("event missing after the last delta time");
                break;
            }
            uint8_t status = d_[pos_];
            if (status < 0x80) {
                if (running == 0) {
                    // Nothing to run on: skip the byte and read on as if it were an event.
                    ++pos_;
                    warnOnce(strayData_, "data byte without a status ignored");
                    continue;
                }
                status = running;
            } else {
                ++pos_;
            }

            if (status < 0xF0) {
                running = status;
                if (!channelMessage(status))
                    break;
            } else if (status == 0xFF) {
                if (!metaEvent(track, ended))
                    break;
                if (ended)
                    break;
            } else if (status == 0xF0 || status == 0xF7) {
                if (!sysexEvent(status))
                    break;
            } else {
                // F1-F6, F8-FE cannot be stored in a track; skip them with their data bytes.
                for (int n = systemDataBytes(status); n > 0 && pos_ < d_.size() && d_[pos_] < 0x80; --n)
                    ++pos_;
                warnOnce(strayStatus_, "illegal system message ignored");
            }
        }
        flushPendingSysex();
        if (!ended)
            warn("missing End of Track");
        else if (pos_ < d_.size())
            warn("data after End of Track ignored");
        track.endTick = tick_;
        track.last = song_.events.size();
        return track;
    }

private:
    void warn(const std::string& what) { warnings_.add("track " + std::to_string(number_) + ": " + what); }
    void warnOnce(bool& done, const std::string& what)
    {
        if (!done)
            warn(what);
        done = true;
    }

    // Variable-length quantity of at most four bytes (28 bits).
    std::optional<uint32_t> readVlq()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= d_.size())
                return std::nullopt;
            const uint8_t b = d_[pos_++];
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return value;
        }
        return std::nullopt;
    }

    void push(uint8_t status, uint8_t d1, uint8_t d2, uint32_t sysex = 0)
    {
        song_.events.push_back(MidiEvent{tick_, status, d1, d2, sysex});
    }

    bool channelMessage(uint8_t status)
    {
        const int n = channelDataBytes(status);
        if (d_.size() - pos_ < std::size_t(n)) {
            warn("event cut short at end of track");
            pos_ = d_.size();
            return false;
        }
        const uint8_t d1 = d_[pos_];
        const uint8_t d2 = n == 2 ? d_[pos_ + 1] : 0;
        pos_ += n;
        if (d1 >= 0x80 || d2 >= 0x80) {
            // A status byte where data belongs: the message is damaged, drop it but keep the
            // framing, which is what a single flipped bit would need.
            warnOnce(badData_, "message with a bad data byte dropped");
            return true;
        }
        push(status, d1, d2);
        return true;
    }

    // Reads the length and body of a meta or sysex event; nullopt when it runs off the track.
    std::optional<std::span<const uint8_t>> body()
    {
        auto len = readVlq();
        if (!len || d_.size() - pos_ < *len)
            return std::nullopt;
        auto b = d_.subspan(pos_, *len);
        pos_ += *len;
        return b;
    }

    bool metaEvent(Track& track, bool& ended)
    {
        if (pos_ >= d_.size()) {
            warn("event cut short at end of track");
            return false;
        }
        const uint8_t type = d_[pos_++];
        if (type == 0x2F && pos_ == d_.size()) {
            // End of Track that lost its length byte: the end is plain.
            warn("End of Track cut short");
            ended = true;
            return true;
        }
        auto b = body();
        if (!b) {
            warn("event cut short at end of track");
            pos_ = d_.size();
            return false;
        }
        if (type == 0x2F) {
            ended = true;
        } else if (type == 0x51) {
            if (b->size() != 3) {
                warnOnce(badTempo_, "malformed tempo event ignored");
            } else {
                const uint32_t us = (uint32_t((*b)[0]) << 16) | (uint32_t((*b)[1]) << 8) | (*b)[2];
                if (us == 0)
                    warnOnce(badTempo_, "tempo of zero ignored");
                else
                    track.tempos.push_back({tick_, us});
            }
        }
        return true;
    }

    bool sysexEvent(uint8_t status)
    {
        auto b = body();
        if (!b) {
            warn("system exclusive message cut short at end of track");
            pos_ = d_.size();
            return false;
        }
        const bool closed = !b->empty() && b->back() == 0xF7;
        if (status == 0xF0) {
            flushPendingSysex();
            if (closed && b->size() == 1)
                return true; // F0 F7: nothing to send, nothing to store
            startSysex(b->first(b->size() - (closed ? 1 : 0)));
            if (closed)
                pending_ = false;
            return true;
        }
        // F7: the continuation of an open F0 packet, or an escape for arbitrary bytes.
        if (pending_) {
            auto& dest = song_.sysex[song_.events[pendingEvent_].sysex];
            dest.insert(dest.end(), b->begin(), b->end() - (closed ? 1 : 0));
            if (closed)
                pending_ = false;
            return true;
        }
        if (b->size() >= 2 && b->front() == 0xF0 && closed) {
            // A whole system exclusive message sent as an escape.
            startSysex(b->subspan(1, b->size() - 2));
            pending_ = false;
        }
        // Other escapes carry real-time or song-position bytes that a synthesizer ignores.
        return true;
    }

    void startSysex(std::span<const uint8_t> bytes)
    {
        song_.sysex.emplace_back(bytes.begin(), bytes.end());
        pendingEvent_ = song_.events.size();
        push(0xF0, 0, 0, uint32_t(song_.sysex.size() - 1));
        pending_ = true;
    }

    // An F0 packet never closed by an F7 packet: keep what was received.
    void flushPendingSysex()
    {
        if (pending_)
            warn("system exclusive message without its closing F7");
        pending_ = false;
    }

    std::span<const uint8_t> d_;
    std::size_t pos_ = 0;
    int64_t tick_ = 0;
    int number_;
    Song& song_;
    Warnings& warnings_;
    bool pending_ = false;
    std::size_t pendingEvent_ = 0;
    bool strayData_ = false, strayStatus_ = false, badData_ = false, badTempo_ = false;
};

LoadResult fail(std::string reason) { return LoadResult{std::nullopt, std::move(reason)}; }

// Validates the division word; returns an error or "".
std::string checkDivision(uint16_t division)
{
    if (division == 0)
        return "bad MIDI header: division is zero";
    if (division & 0x8000) {
        const int fps = -int(int8_t(division >> 8));
        if (fps != 24 && fps != 25 && fps != 29 && fps != 30)
            return "bad MIDI header: unsupported SMPTE rate " + std::to_string(fps);
        if ((division & 0xFF) == 0)
            return "bad MIDI header: zero ticks per SMPTE frame";
    }
    return {};
}

LoadResult parseSmf(std::span<const uint8_t> b, Warnings& warnings)
{
    if (!hasId(b, 0, "MThd"))
        return fail("not a MIDI file: no MThd header");
    if (b.size() < 14)
        return fail("bad MIDI header: file too short");
    const uint32_t headerLen = be32(b.data() + 4);
    if (headerLen < 6 || headerLen > b.size() - 8)
        return fail("bad MIDI header: length " + std::to_string(headerLen));
    const int format = be16(b.data() + 8);
    const int declared = be16(b.data() + 10);
    const uint16_t division = be16(b.data() + 12);
    if (format > 2)
        return fail("unsupported MIDI format " + std::to_string(format));
    if (auto e = checkDivision(division); !e.empty())
        return fail(e);

    Song song;
    song.format = format;
    song.declaredTracks = declared;
    song.division = division;

    std::vector<Track> tracks;
    std::size_t pos = 8 + std::size_t(headerLen);
    while (pos < b.size()) {
        if (b.size() - pos < 8 || !printableId(b.data() + pos)) {
            warnings.add("ignored trailing garbage (" + std::to_string(b.size() - pos) + " bytes)");
            break;
        }
        const std::string id(reinterpret_cast<const char*>(b.data() + pos), 4);
        const uint32_t len = be32(b.data() + pos + 4);
        pos += 8;
        const std::size_t avail = b.size() - pos;
        const std::size_t take = std::min<std::size_t>(len, avail);
        if (id != "MTrk") {
            warnings.add("skipped unknown chunk '" + id + "'");
            pos += take;
            continue;
        }
        const int number = int(tracks.size()) + 1;
        if (len > avail)
            warnings.add("track " + std::to_string(number) + ": length runs past the end of the file");
        TrackReader reader(b.subspan(pos, take), number, song, warnings);
        tracks.push_back(reader.read());
        pos += take;
    }

    if (tracks.empty())
        return fail("no playable track");
    song.tracks = int(tracks.size());
    if (song.tracks < declared)
        warnings.add("header declares " + std::to_string(declared) + " tracks, file has " +
                     std::to_string(song.tracks));
    else if (song.tracks > declared)
        warnings.add("header declares " + std::to_string(declared) + " tracks, file has " +
                     std::to_string(song.tracks) + "; playing all");
    if (format == 0 && song.tracks > 1)
        warnings.add("format 0 file with several tracks; playing them together");

    // Apply the tempo map. Formats 0 and 1 share one map gathered from every track, in file
    // order at equal ticks (a stable sort keeps the last change at a tick winning); in
    // format 2 every track has its own map and starts when the previous one ends.
    const bool smpte = division & 0x8000;
    const LoadResult tooLong = fail("piece is longer than 24 hours");
    auto convert = [&](const Track& t, const Clock& clock, int64_t offsetNs) -> std::optional<int64_t> {
        for (std::size_t i = t.first; i < t.last; ++i) {
            auto ns = clock.toNs(song.events[i].timeNs);
            if (!ns || *ns + offsetNs > kMaxLengthNs)
                return std::nullopt;
            song.events[i].timeNs = *ns + offsetNs;
        }
        auto end = clock.toNs(t.endTick);
        if (!end || *end + offsetNs > kMaxLengthNs)
            return std::nullopt;
        return *end + offsetNs;
    };
    if (format == 2) {
        int64_t offset = 0;
        for (const Track& t : tracks) {
            if (!smpte)
                song.tempoChanges += int(t.tempos.size());
            const Clock clock(division, t.tempos);
            auto end = convert(t, clock, offset);
            if (!end)
                return tooLong;
            offset = *end;
        }
        song.lengthNs = offset;
    } else {
        std::vector<TempoChange> map;
        if (!smpte) {
            for (const Track& t : tracks)
                map.insert(map.end(), t.tempos.begin(), t.tempos.end());
            std::stable_sort(map.begin(), map.end(),
                             [](const TempoChange& a, const TempoChange& c) { return a.tick < c.tick; });
            song.tempoChanges = int(map.size());
        }
        const Clock clock(division, map);
        for (const Track& t : tracks) {
            auto end = convert(t, clock, 0);
            if (!end)
                return tooLong;
            song.lengthNs = std::max(song.lengthNs, *end);
        }
    }
    // A system exclusive message with no bytes has nothing to send.
    std::erase_if(song.events, [&](const MidiEvent& e) {
        return e.status == 0xF0 && song.sysex[e.sysex].empty();
    });
    // Events are in file order (track by track); a stable sort by time keeps that order
    // among simultaneous events. One track is in order already, and sorting a million events
    // takes longer than reading them.
    const auto byTime = [](const MidiEvent& a, const MidiEvent& c) { return a.timeNs < c.timeNs; };
    if (!std::is_sorted(song.events.begin(), song.events.end(), byTime))
        std::stable_sort(song.events.begin(), song.events.end(), byTime);
    return LoadResult{std::move(song), {}};
}

// RIFF "RMID": the SMF is the body of the "data" chunk. A "RIFF" or "LIST" chunk holding a
// "DLS " or "sfbk" form is the piece's own instrument bank, kept as a RIFF file of its own.
// Other chunks (LIST/INFO...) are skipped; sizes are trusted only as far as the RIFF size and
// the file allow.
LoadResult parseRiff(std::span<const uint8_t> b, Warnings& warnings)
{
    if (b.size() < 12)
        return fail("not a MIDI file: truncated RIFF header");
    if (!hasId(b, 8, "RMID"))
        return fail("not a MIDI file: RIFF file is not RMID");
    std::size_t end = b.size();
    const uint32_t riffSize = le32(b.data() + 4);
    if (riffSize < 4)
        return fail("not a MIDI file: bad RIFF size");
    if (riffSize > b.size() - 8)
        warnings.add("RIFF size runs past the end of the file");
    else
        end = 8 + std::size_t(riffSize);
    std::span<const uint8_t> data, bank;
    bool hasData = false;
    std::size_t pos = 12;
    while (end - pos >= 8) {
        const uint32_t len = le32(b.data() + pos + 4);
        const bool isData = hasId(b, pos, "data");
        const bool isForm = hasId(b, pos, "RIFF") || hasId(b, pos, "LIST");
        pos += 8;
        std::size_t take = len;
        if (len > end - pos) {
            warnings.add("RIFF chunk runs past the end of the file");
            take = end - pos;
        }
        const std::span<const uint8_t> body = b.subspan(pos, take);
        if (isData && !hasData) {
            data = body;
            hasData = true;
        } else if (isForm && bank.empty() && (hasId(body, 0, "DLS ") || hasId(body, 0, "sfbk"))) {
            bank = body;
        }
        pos += take;
        pos += std::min<std::size_t>(take & 1, end - pos); // chunks are padded to even size
    }
    if (!hasData)
        return fail("not a MIDI file: RMID file has no data chunk");
    LoadResult r = parseSmf(data, warnings);
    if (r.error == "not a MIDI file: no MThd header")
        r.error = "not a MIDI file: RMID data chunk holds no MThd header";
    if (r.song && !bank.empty()) {
        const uint32_t size = uint32_t(bank.size());
        r.song->bank = {'R', 'I', 'F', 'F', uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16),
                        uint8_t(size >> 24)};
        r.song->bank.insert(r.song->bank.end(), bank.begin(), bank.end());
    }
    return r;
}

} // namespace

LoadResult parseMidi(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return fail("file is empty");
    if (bytes.size() > kMaxMidiFileBytes)
        return fail("file is larger than 64 MiB");
    Warnings warnings;
    LoadResult result = hasId(bytes, 0, "RIFF") ? parseRiff(bytes, warnings) : parseSmf(bytes, warnings);
    if (result.song)
        result.song->warnings = warnings.take();
    return result;
}

namespace {

std::string lowerFirst(std::string s)
{
    if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z')
        s[0] = char(s[0] - 'A' + 'a');
    return s;
}

std::string errnoText(int err) { return lowerFirst(std::strerror(err)); }

// Common checks on what stat/fstat said; "" when the file may be read.
std::string checkStat(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (st.st_size == 0)
        return "file is empty";
    if (uint64_t(st.st_size) > kMaxMidiFileBytes)
        return "file is larger than 64 MiB";
    return {};
}

} // namespace

LoadResult loadMidiFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(errnoText(errno));
    if (auto e = checkStat(st); !e.empty())
        return fail(e);

    // O_NONBLOCK: should the path have been swapped for a FIFO since stat, open must not hang.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(errnoText(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0)
        return fail(errnoText(errno));
    if (auto e = checkStat(st); !e.empty())
        return fail(e);

    // Read what fstat promised; a file that shrank meanwhile is parsed as it now is.
    std::vector<uint8_t> bytes(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errnoText(errno));
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    bytes.resize(got);
    return parseMidi(bytes);
}

} // namespace md
