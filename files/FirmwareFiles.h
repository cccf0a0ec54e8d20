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
// More than one candidate: the message begins with this and names them.
inline constexpr const char* kUitAmbiguous = "程序目录中有多个UIT文件，请只保留一个：";
inline constexpr const char* kHzkAmbiguous = "程序目录中有多个HZK文件，请只保留一个：";
// The desktop program's refusal to write the placeholder into a real player.
inline constexpr const char* kPlaceholderRefused =
    "本程序内置的 IM/PM 文件只是占位数据，不是播放器的固件，不能下载到真实的播放器。\n"
    "请用播放器的固件重新构建本程序：cmake -DQDX_IMPM_IMAGE=固件文件";
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

// Every entry of listing that FindFileInProgramDir would accept, as dir + separator + name, in
// listing order.
std::vector<std::string> FindCandidatesInProgramDir(const std::string& dir,
                                                    const std::vector<std::string>& listing,
                                                    std::string_view pattern);

using DirectoryLister = std::function<std::vector<std::string>(const std::string& dir)>;

// Switches on the job options, sets the IM/PM path to "bin", then looks for ".uit" and then
// ".hzk" in dir, listing it anew for each search. Returns the message to show when a file is
// missing, or when more than one entry matches (a stale copy must never be taken by the order
// of a listing; the message names them); the search stops there, and paths not reached keep
// their value. nullopt when both paths are set.
std::optional<std::string> FindFirmwareFiles(const std::string& dir, const DirectoryLister& list,
                                             JobOptions& options, FirmwarePaths& paths);

// Whether a download may take the built-in IM/PM image onto its player: always onto a simulated
// player, onto a real one only when the build embedded the player's firmware. The IM/PM path
// "bin" selects the built-in image; any other path is the operator's own file.
bool MayWriteBuiltinImage(const FirmwarePaths& paths, bool simulatedPlayer,
                          bool placeholderEmbedded);

}  // namespace qdx
