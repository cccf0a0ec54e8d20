#include "sim/FaultPlan.h"

#include <string_view>

namespace qdx::sim {

namespace {

// Decimal, or hexadecimal after 0x; nothing else, no sign, no spaces.
bool ParseNumber(std::string_view text, std::uint64_t limit, std::uint64_t* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    std::uint64_t result = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || static_cast<std::uint64_t>(digit) > limit ||
            result > (limit - static_cast<std::uint64_t>(digit)) / base) {
            return false;
        }
        result = result * base + static_cast<std::uint64_t>(digit);
    }
    *value = result;
    return true;
}

}  // namespace

bool FaultPlan::Empty() const {
    return failCommand == 0 && unplugAfter == 0 && failAt.empty() && corruptRead.empty() &&
           weakSector.empty() && !formatFails;
}

bool ParseFaultSpec(const std::string& text, FaultPlan& plan, std::string* error) {
    const std::string_view fault = text;
    const std::size_t equals = fault.find('=');
    const std::string_view name = fault.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view{} : fault.substr(equals + 1);
    auto fail = [&](const std::string& why) {
        *error = "fault \"" + text + "\": " + why;
        return false;
    };
    const std::string kinds =
        "expected fail-command=N, unplug-after=N, fail=SUB@SECTOR, corrupt-read=SECTOR, "
        "weak-sector=SECTOR or format-fails";

    if (fault == "format-fails") {
        plan.formatFails = true;
        return true;
    }
    if (equals == std::string_view::npos) {
        return fail(kinds);
    }
    std::uint64_t number = 0;
    if (name == "fail-command" || name == "unplug-after") {
        if (!ParseNumber(value, UINT64_MAX, &number) || number == 0) {
            return fail("needs a command number of 1 or more (commands count from 1)");
        }
        std::uint64_t& field = name == "fail-command" ? plan.failCommand : plan.unplugAfter;
        if (field != 0 && field != number) {
            return fail("given twice with different numbers");
        }
        field = number;
        return true;
    }
    if (name == "fail") {
        const std::size_t at = value.find('@');
        std::uint64_t sub = 0;
        if (at == std::string_view::npos || !ParseNumber(value.substr(0, at), 7, &sub) ||
            !ParseNumber(value.substr(at + 1), UINT32_MAX, &number)) {
            return fail("needs SUB@SECTOR with a sub-command 0..7 and a 32-bit sector");
        }
        plan.failAt.push_back({static_cast<std::uint8_t>(sub), static_cast<std::uint32_t>(number)});
        return true;
    }
    if (name == "corrupt-read" || name == "weak-sector") {
        if (!ParseNumber(value, UINT32_MAX, &number)) {
            return fail("needs a 32-bit sector number");
        }
        (name == "corrupt-read" ? plan.corruptRead : plan.weakSector)
            .push_back(static_cast<std::uint32_t>(number));
        return true;
    }
    return fail(kinds);
}

}  // namespace qdx::sim
