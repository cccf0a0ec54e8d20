// Where the window looks for the UIT and HZK files: beside the program, and on Linux, where an
// installed program's folder (/usr/bin) is no place an operator can write to, in the user's data
// folder when the program's own holds none.
#pragma once

#include <string>

#include "files/FirmwareFiles.h"

namespace qdx::app {

struct FirmwareFolders {
    std::string program;   // the program's own folder
    std::string userData;  // $XDG_DATA_HOME/qdxclient; empty on Windows or when unknown
};

// $XDG_DATA_HOME/qdxclient when that is an absolute path, else $HOME/.local/share/qdxclient;
// empty when neither is known. Either argument may be null.
std::string UserDataFolder(const char* xdgDataHome, const char* home);

// The running program's folders: its own, and on Linux the user's data folder.
FirmwareFolders PlatformFirmwareFolders();

// Creates the user's data folder with its parents, so an operator finds where the files go.
// True when it exists afterwards; nothing to do for an empty name.
bool CreateUserDataFolder(const std::string& folder);

// The program's folder when it holds a candidate (an entry FindFirmwareFiles would take for the
// UIT or the HZK file) or when there is no user data folder; the user data folder otherwise. The
// two are never mixed: both files come from the folder chosen.
std::string ChooseFirmwareFolder(const FirmwareFolders& folders, const DirectoryLister& list);

// The line for standard error when a file is missing from the folder searched: where it was
// looked for and where the files may go.
std::string MissingFileNote(const FirmwareFolders& folders, const std::string& searched,
                            const std::string& message);

}  // namespace qdx::app
