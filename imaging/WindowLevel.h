#pragma once
// A window width and level: what the image view hands to its lookup table,
// and the automatic window an acquired image carries.
#include <cstdint>

namespace orvi {

struct CWindowLevel {
    int32_t nWidth = 0;
    int32_t nLevel = 0;
    bool operator==(const CWindowLevel&) const = default;
};

}  // namespace orvi
