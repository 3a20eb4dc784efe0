#include "SoundFont.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace md {

namespace {

constexpr std::array<std::string_view, 3> kExtensions = {".sf2", ".sf3", ".dls"};

std::string lowerCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string extensionOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string()
                                                                                  : lowerCase(path.substr(dot));
}

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string errnoText(int err)
{
    std::string s = std::strerror(err);
    if (!s.empty())
        s[0] = char(std::tolower(static_cast<unsigned char>(s[0])));
    return s;
}

bool startsWith(std::span<const uint8_t> b, std::size_t at, std::string_view id)
{
    return b.size() >= at + id.size() && std::equal(id.begin(), id.end(), b.begin() + std::ptrdiff_t(at));
}

// FluidSynth loads DLS through libinstpatch when it was built with it; the library is then
// among its own dependencies, so it is in the process once FluidSynth is.
bool fluidSynthLoadsDls()
{
    void* handle = ::dlopen("libinstpatch-1.0.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (handle)
        ::dlclose(handle);
    return handle != nullptr;
}

} // namespace

std::vector<std::string> soundFontCandidates()
{
    // default-GM is Debian's alternatives link to the best installed GM font; after it,
    // the larger FluidR3 before the small TimGM6mb.
    return {
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/sounds/sf3/FluidR3_GM.sf3",
        "/usr/share/soundfonts/default.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf2",
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/soundfonts/TimGM6mb.sf2",
    };
}

std::string findSoundFont()
{
    if (const char* chosen = std::getenv(kSoundFontVariable); chosen && *chosen)
        return chosen;
    for (const std::string& path : soundFontCandidates()) {
        if (::access(path.c_str(), R_OK) == 0)
            return path;
    }
    return {};
}

std::string missingSoundFontMessage()
{
    return "no General MIDI SoundFont found: install the timgm6mb-soundfont or "
           "fluid-soundfont-gm package, or set MELLOWDECK_SOUNDFONT to a .sf2 file";
}

std::string soundFontRefusal(const std::string& path)
{
    const std::string ext = extensionOf(path);
    if (ext == ".mid" || ext == ".midi" || ext == ".rmi" || ext == ".kar")
        return "a MIDI file is not a SoundFont: File > Open plays it";
    if (std::find(kExtensions.begin(), kExtensions.end(), ext) == kExtensions.end())
        return "not a SoundFont: only .sf2, .sf3 and .dls files can be used";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errnoText(errno);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (::access(path.c_str(), R_OK) != 0)
        return errnoText(errno);
    return {};
}

std::vector<std::string> soundFontsBeside(const std::string& piece)
{
    const std::string ext = extensionOf(piece);
    const std::string stem = piece.substr(0, piece.size() - ext.size());
    std::vector<std::string> found;
    for (std::string_view e : kExtensions) {
        std::string upper(e);
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        for (const std::string& candidate : {stem + std::string(e), stem + upper}) {
            if (isRegularFile(candidate) && std::find(found.begin(), found.end(), candidate) == found.end())
                found.push_back(candidate);
        }
    }
    return found;
}

std::string soundFontProblem(std::span<const uint8_t> head)
{
    if (startsWith(head, 0, "MThd") || (startsWith(head, 0, "RIFF") && startsWith(head, 8, "RMID")))
        return "it is a MIDI file, not a SoundFont";
    if (startsWith(head, 0, "RIFF") && startsWith(head, 8, "sfbk"))
        return "the SoundFont is damaged or of a kind FluidSynth does not read";
    if (startsWith(head, 0, "RIFF") && startsWith(head, 8, "DLS "))
        return fluidSynthLoadsDls() ? "the DLS bank is damaged or of a kind FluidSynth does not read"
                                    : "this FluidSynth does not load DLS banks (it was built without "
                                      "libinstpatch); use a .sf2 or .sf3 SoundFont";
    return "not a SoundFont";
}

bool isBankForm(std::span<const uint8_t> head)
{
    return startsWith(head, 0, "RIFF") && (startsWith(head, 8, "sfbk") || startsWith(head, 8, "DLS "));
}

std::vector<uint8_t> fileHead(const std::string& path)
{
    std::vector<uint8_t> head(12);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    const ssize_t got = fd < 0 ? 0 : ::read(fd, head.data(), head.size());
    if (fd >= 0)
        ::close(fd);
    head.resize(std::size_t(std::max<ssize_t>(got, 0)));
    return head;
}

std::string soundFontFileProblem(const std::string& path)
{
    if (::access(path.c_str(), R_OK) != 0)
        return errnoText(errno);
    return soundFontProblem(fileHead(path));
}

MemoryFile::MemoryFile(std::span<const uint8_t> bytes)
{
    fd_ = ::memfd_create("mellowdeck-bank", MFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = errnoText(errno);
        return;
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = n < 0 ? errnoText(errno) : "cannot write the bank to memory";
            ::close(fd_);
            fd_ = -1;
            return;
        }
        done += std::size_t(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace md
