#include "files/FirmwareFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qdx {

namespace {

std::string Transformed(std::string_view text, int (*convert)(int)) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [convert](char c) {
        return static_cast<char>(convert(static_cast<unsigned char>(c)));
    });
    return result;
}

}  // namespace

std::string GetProgramDir() {
    std::string path;
#ifdef _WIN32
    // Grow the buffer until the whole path fits: no fixed limit on its length.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
#else
    std::error_code error;
    path = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error) {
        return {};
    }
#endif
    std::size_t cut = path.find_last_of(kPathSeparator);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::vector<std::string> ListDirectory(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    if (error) {
        return names;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        names.push_back(it->path().filename().string());
    }
    return names;
}

std::vector<std::string> FindCandidatesInProgramDir(const std::string& dir,
                                                    const std::vector<std::string>& listing,
                                                    std::string_view pattern) {
    const std::string lower = Transformed(pattern, [](int c) { return std::tolower(c); });
    const std::string upper = Transformed(pattern, [](int c) { return std::toupper(c); });
    std::vector<std::string> candidates;
    for (const std::string& name : listing) {
        if (name.empty() || name.front() == '.') {
            continue;
        }
        if (name.find(lower) != std::string::npos || name.find(upper) != std::string::npos) {
            candidates.push_back(dir + kPathSeparator + name);
        }
    }
    return candidates;
}

std::string FindFileInProgramDir(const std::string& dir, const std::vector<std::string>& listing,
                                 std::string_view pattern) {
    const std::vector<std::string> candidates = FindCandidatesInProgramDir(dir, listing, pattern);
    return candidates.empty() ? std::string() : candidates.front();
}

namespace {

// The one candidate of a search, or the message that refuses the search.
std::optional<std::string> OneCandidate(const std::string& dir, const DirectoryLister& list,
                                        std::string_view pattern, const char* missing,
                                        const char* ambiguous, std::string& found) {
    const std::vector<std::string> candidates = FindCandidatesInProgramDir(dir, list(dir), pattern);
    if (candidates.empty()) {
        return std::string(missing);
    }
    if (candidates.size() > 1) {
        std::string message = ambiguous;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const std::size_t cut = candidates[i].find_last_of(kPathSeparator);
            message += (i ? "、" : "") + candidates[i].substr(cut + 1);
        }
        return message;
    }
    found = candidates.front();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FindFirmwareFiles(const std::string& dir, const DirectoryLister& list,
                                             JobOptions& options, FirmwarePaths& paths) {
    SwitchOnJobOptions(options);
    paths.imPmPath = kBuiltinImagePath;
    std::string uit;
    if (auto refused =
            OneCandidate(dir, list, ".uit", texts::kUitMissing, texts::kUitAmbiguous, uit)) {
        return refused;
    }
    paths.uitPath = uit;
    std::string font;
    if (auto refused =
            OneCandidate(dir, list, ".hzk", texts::kHzkMissing, texts::kHzkAmbiguous, font)) {
        return refused;
    }
    paths.fontPath = font;
    return std::nullopt;
}

bool MayWriteBuiltinImage(const FirmwarePaths& paths, bool simulatedPlayer,
                          bool placeholderEmbedded) {
    return simulatedPlayer || !placeholderEmbedded || paths.imPmPath != kBuiltinImagePath;
}

}  // namespace qdx
