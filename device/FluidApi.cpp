#include "FluidApi.h"

#include "SharedLibrary.h"

namespace md {

const FluidApi& fl()
{
    static const FluidApi api = loadSharedLibrary<FluidApi>(
        MELLOWDECK_FLUIDSYNTH_SONAME, "FluidSynth", " (FluidSynth 2.2 or later is needed)",
        [](FluidApi& a, const auto& find) {
#define MD_FLUID_RESOLVE(name) a.name = reinterpret_cast<decltype(&::name)>(find(#name));
            MD_FLUID_FUNCTIONS(MD_FLUID_RESOLVE)
#undef MD_FLUID_RESOLVE
        });
    return api;
}

} // namespace md
