// UTF-8, the engine's and the shared texts' encoding, to and from the UTF-16 of the wide
// character APIs.
#pragma once

#include <string>
#include <string_view>

namespace qdx::app {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace qdx::app
