// Shared libraries opened the first time they are needed rather than at every start: a run of the
// tool that never reads a TIFF or the screen does not map libtiff, Xlib and what they pull in
// (about a dozen libraries, a few milliseconds of every start). A library's functions are bound
// all at once into a table of pointers of their own types; a library or a function that is
// missing leaves no table, and the feature needing it fails as it would on bad input.
#pragma once

#include <dlfcn.h>

namespace gifanim::platform {

// The library of that name, or null when it cannot be opened. It stays open to the end of the
// program: what is bound from it stays valid.
inline void* open_library(const char* soname) {
    return dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

// `function` set to the function `name` of `library`; false when it has none.
template <class Function>
bool bind_function(void* library, const char* name, Function& function) {
    void* found = dlsym(library, name);
    function = reinterpret_cast<Function>(found);
    return found != nullptr;
}

}  // namespace gifanim::platform

// A table `Table` of the functions FUNCTIONS(F) lists, each a pointer of its declared type, and
// `const Table* accessor()`: the table bound from the library `soname` on the first call, null
// when the library or any function is missing. Once made, a table is never changed.
#define GIFANIM_LOADED_LIBRARY(Table, accessor, soname, FUNCTIONS)     \
    struct Table {                                                     \
        FUNCTIONS(GIFANIM_LOADED_MEMBER)                               \
    };                                                                 \
    const Table* accessor() {                                          \
        static const Table* const bound = []() -> const Table* {       \
            static Table table;                                        \
            void* library = ::gifanim::platform::open_library(soname); \
            if (!library) return nullptr;                              \
            FUNCTIONS(GIFANIM_LOADED_BIND)                             \
            return &table;                                             \
        }();                                                           \
        return bound;                                                  \
    }
#define GIFANIM_LOADED_MEMBER(name) decltype(&::name) name = nullptr;
#define GIFANIM_LOADED_BIND(name) \
    if (!::gifanim::platform::bind_function(library, #name, table.name)) return nullptr;
