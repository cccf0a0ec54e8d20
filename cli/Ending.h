// Texts for events: a JSON string literal.
#pragma once

#include <string>

namespace qdx::cli {

// A JSON string literal, quotes included; UTF-8 passes through unchanged.
std::string JsonString(const std::string& text);

}  // namespace qdx::cli
