// Finding the UIT and font images beside the program.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/JobSettings.h"

namespace qdx {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

namespace texts {
inline constexpr const char* kUitMissing = "UIT文件已损坏，请修复！";
inline constexpr const char* kHzkMissing = "HZK文件已损坏，请修复！";
}  // namespace texts

// The directory of the running executable, without a trailing separator; empty when the
// platform cannot tell.
std::string GetProgramDir();

// Names of a directory's entries (files and subdirectories) in the order the platform lists
// them; no entries when it cannot be listed.
std::vector<std::string> ListDirectory(const std::string& dir);

// dir + separator + name: the first entry of listing (in its order) whose name contains
// pattern in lower case, or else in upper case; names starting with '.' are skipped. Empty when
// no entry matches.
std::string FindFileInProgramDir(const std::string& dir, const std::vector<std::string>& listing,
                                 std::string_view pattern);

using DirectoryLister = std::function<std::vector<std::string>(const std::string& dir)>;

// Switches on the job options, sets the IM/PM path to "bin", then looks for ".uit" and then
// ".hzk" in dir, listing it anew for each search. Returns the message to show when a file is
// missing (the search stops there, and paths not reached keep their value); nullopt when both
// paths are set.
std::optional<std::string> FindFirmwareFiles(const std::string& dir, const DirectoryLister& list,
                                             JobOptions& options, FirmwarePaths& paths);

}  // namespace qdx
