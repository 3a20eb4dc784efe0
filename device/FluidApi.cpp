#include "FluidApi.h"

#include <dlfcn.h>

namespace md {

namespace {

FluidApi load()
{
    FluidApi api;
    // Local: the library's symbols stay out of the way of everything loaded later.
    void* library = dlopen(MELLOWDECK_FLUIDSYNTH_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        api.error = std::string("FluidSynth could not be loaded: ") + (why ? why : "unknown error");
        return api;
    }
    std::string missing;
#define MD_FLUID_RESOLVE(name)                                                                  \
    api.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));                       \
    if (!api.name)                                                                               \
        missing += missing.empty() ? #name : ", " #name;
    MD_FLUID_FUNCTIONS(MD_FLUID_RESOLVE)
#undef MD_FLUID_RESOLVE
    if (!missing.empty()) {
        // Left loaded: a library that is half there is not worth the risk of unloading.
        api = FluidApi{};
        api.error = std::string(MELLOWDECK_FLUIDSYNTH_SONAME) + " lacks " + missing
            + " (FluidSynth 2.2 or later is needed)";
    }
    return api;
}

} // namespace

const FluidApi& fl()
{
    static const FluidApi api = load();
    return api;
}

} // namespace md
