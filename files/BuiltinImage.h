// The IM/PM image the program carries, selected by the path "bin".
#pragma once

#include <cstdint>
#include <span>

namespace qdx {

// The whole image file, header included. Embedded at build time and checked by the build.
std::span<const std::uint8_t> BuiltinImage();

// True when the build embedded the placeholder that ships with the sources instead of the
// player's firmware: it lets every download path run, and must never reach a real player.
bool BuiltinImageIsPlaceholder();

}  // namespace qdx
