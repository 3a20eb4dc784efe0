#pragma once

#include <dlfcn.h>

#include <string>

namespace md {

// Loads `soname` for the functions of an `Api` struct (function pointers and a `std::string
// error`): `resolve(api, find)` sets each pointer from `find("name")`. The library gets local
// scope, so its symbols stay out of the way of everything loaded later. When the library or
// one of its functions is missing, every pointer is left null and `error` says so, naming it
// `what`; `needs` follows the list of missing functions.
template <class Api, class Resolve>
Api loadSharedLibrary(const char* soname, const char* what, const char* needs, Resolve resolve)
{
    Api api;
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        api.error = std::string(what) + " could not be loaded: " + (why ? why : "unknown error");
        return api;
    }
    std::string missing;
    resolve(api, [&](const char* name) {
        void* symbol = dlsym(library, name);
        if (!symbol)
            missing += (missing.empty() ? "" : ", ") + std::string(name);
        return symbol;
    });
    if (!missing.empty()) {
        // Left loaded: a library that is half there is not worth the risk of unloading.
        api = Api{};
        api.error = std::string(soname) + " lacks " + missing + needs;
    }
    return api;
}

} // namespace md
