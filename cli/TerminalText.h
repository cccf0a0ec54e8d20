// Text for a terminal: how many columns a UTF-8 text takes (CJK characters take two), cutting
// it to fit, and durations as people read them.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qdx::cli {

// Columns the text takes on a terminal: two for East Asian wide and full-width characters, none
// for combining marks, one for the rest; a byte that is not UTF-8 counts as one.
int DisplayWidth(std::string_view text);

// The longest start of text that takes at most columns; then padded with spaces to exactly
// columns when pad is set.
std::string FitToWidth(std::string_view text, int columns, bool pad);

// 0:07, 1:05, 12:30, 1:02:03.
std::string FormatDuration(std::chrono::steady_clock::duration duration);

}  // namespace qdx::cli
