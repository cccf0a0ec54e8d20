// The IM/PM image the program carries, selected by the path "bin".
#pragma once

#include <cstdint>
#include <span>

namespace qdx {

// The whole image file, header included. Embedded at build time and checked by the build.
std::span<const std::uint8_t> BuiltinImage();

}  // namespace qdx
