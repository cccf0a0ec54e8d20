#include "cli/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace qdx::cli {

namespace {

// Decodes one character at text[at]; returns its length in bytes (1 for a byte that is not
// UTF-8, whose code point is then 0xFFFD).
std::size_t Decode(std::string_view text, std::size_t at, std::uint32_t* codePoint) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80         ? 1
                         : byte >> 5 == 0x6  ? 2
                         : byte >> 4 == 0xE  ? 3
                         : byte >> 3 == 0x1E ? 4
                                             : 0;
    if (length == 0 || at + length > text.size()) {
        *codePoint = 0xFFFD;
        return 1;
    }
    std::uint32_t value = length == 1 ? byte : byte & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if (next >> 6 != 0x2) {
            *codePoint = 0xFFFD;
            return 1;
        }
        value = value << 6 | (next & 0x3F);
    }
    *codePoint = value;
    return length;
}

int Columns(std::uint32_t c) {
    if (c < 0x20 || (c >= 0x300 && c <= 0x36F) || c == 0x200B) {
        return 0;  // control characters and combining marks
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

int DisplayWidth(std::string_view text) {
    int width = 0;
    std::uint32_t c = 0;
    for (std::size_t at = 0; at < text.size(); at += Decode(text, at, &c)) {
        Decode(text, at, &c);
        width += Columns(c);
    }
    return width;
}

std::string FitToWidth(std::string_view text, int columns, bool pad) {
    std::string fitted;
    int width = 0;
    std::uint32_t c = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Decode(text, at, &c);
        const int w = Columns(c);
        if (width + w > columns) {
            break;
        }
        fitted.append(text.substr(at, length));
        width += w;
        at += length;
    }
    if (pad && width < columns) {
        fitted.append(static_cast<std::size_t>(columns - width), ' ');
    }
    return fitted;
}

std::string FormatDuration(std::chrono::steady_clock::duration duration) {
    const long long total =
        std::chrono::duration_cast<std::chrono::seconds>(duration).count() < 0
            ? 0
            : std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

}  // namespace qdx::cli
