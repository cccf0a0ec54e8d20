// UTF-8, the engine's and the shared texts' encoding, to the UTF-16 of the wide character APIs.
#pragma once

#include <string>
#include <string_view>

namespace qdx::app {

std::wstring Wide(std::string_view utf8);

}  // namespace qdx::app
