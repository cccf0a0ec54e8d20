#include "app/FirmwareFolder.h"

#include <cstdlib>
#include <filesystem>

namespace qdx::app {

std::string UserDataFolder(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        return std::string(xdgDataHome) + "/qdxclient";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/qdxclient";
    }
    return {};
}

FirmwareFolders PlatformFirmwareFolders() {
    FirmwareFolders folders;
    folders.program = GetProgramDir();
#ifndef _WIN32
    folders.userData = UserDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
#endif
    return folders;
}

bool CreateUserDataFolder(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

std::string ChooseFirmwareFolder(const FirmwareFolders& folders, const DirectoryLister& list) {
    if (folders.userData.empty()) {
        return folders.program;
    }
    const std::vector<std::string> listing = list(folders.program);
    const bool candidate = !FindFileInProgramDir(folders.program, listing, ".uit").empty() ||
                           !FindFileInProgramDir(folders.program, listing, ".hzk").empty();
    return candidate ? folders.program : folders.userData;
}

std::string MissingFileNote(const FirmwareFolders& folders, const std::string& searched,
                            const std::string& message) {
    std::string note = "a firmware file is missing from " + searched + " (" + message +
                       "); put the *.uit and *.hzk files";
    if (folders.userData.empty()) {
        return note + " into " + folders.program;
    }
    return note + " into " + folders.userData + " (or, where you may write to it, into " +
           folders.program + ")";
}

}  // namespace qdx::app
