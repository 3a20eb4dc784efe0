#include "SoundFont.h"

#include <cstdlib>
#include <unistd.h>

namespace md {

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

} // namespace md
