#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace md {

// Environment variable naming the SoundFont to use instead of the system's.
inline constexpr const char* kSoundFontVariable = "MELLOWDECK_SOUNDFONT";

// The places a General MIDI SoundFont is looked for, best first.
std::vector<std::string> soundFontCandidates();

// The SoundFont to load: $MELLOWDECK_SOUNDFONT when set (even if it is unusable, so that
// a mistyped override is reported rather than silently replaced), else the first
// readable candidate; empty when there is none.
std::string findSoundFont();

// What to tell the user when no SoundFont can be loaded.
std::string missingSoundFontMessage();

// Why `path` may not be handed to FluidSynth as a SoundFont, before it is tried: it does not
// end in .sf2, .sf3 or .dls (any case), or it is not a readable regular file (FluidSynth
// would wait forever on a FIFO). Empty when it may.
std::string soundFontRefusal(const std::string& path);

// The SoundFonts a piece brings beside it: for dir/song.mid, the regular files
// dir/song.sf2, .sf3 and .dls (also in capitals), in that order.
std::vector<std::string> soundFontsBeside(const std::string& piece);

// Whether a file that starts with `head` may be a bank FluidSynth reads: a RIFF form "sfbk"
// (SoundFont 2 or 3) or "DLS ". Anything else is kept from it, and from libinstpatch, which
// would try to read it as whatever it can.
bool isBankForm(std::span<const uint8_t> head);
// The first 12 bytes of a file: fewer when it is shorter, none when it cannot be read.
std::vector<uint8_t> fileHead(const std::string& path);

// Why FluidSynth did not load a bank that starts with `head` (at least its first 12 bytes,
// fewer when the file is shorter): a plain reason such as "it is a MIDI file".
std::string soundFontProblem(std::span<const uint8_t> head);
// The same for a file; also says when it cannot be read.
std::string soundFontFileProblem(const std::string& path);

// A bank held in memory, offered to FluidSynth as a file: FluidSynth's loaders (its own for
// SoundFont 2, libinstpatch's for DLS) open banks by name, and open them again to load
// samples while the bank is in use. An anonymous memory file is named through /proc for as
// long as this lives, touches no disk and disappears with the process whatever happens.
class MemoryFile {
public:
    // Check valid() and, when false, error().
    explicit MemoryFile(std::span<const uint8_t> bytes);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string path_, error_;
};

} // namespace md
