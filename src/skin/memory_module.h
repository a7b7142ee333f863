// The in-memory library loader object. Until an image is loaded it is empty:
// `base` is 0 and destroying it does nothing (it never calls into a loaded
// library, nor unloads it).
#pragma once

#include <cstdint>

namespace kestrova::skin {

class MemoryModule {
public:
    /// Address of the loaded image; 0 when nothing is loaded.
    std::uintptr_t base = 0;
};

} // namespace kestrova::skin
