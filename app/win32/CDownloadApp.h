// The program: one instance per session, one modal main window, then the end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/SingleInstance.h"
#include "app/win32/GuiPorts.h"

namespace qdx::app {

class CDownloadApp {
public:
    // Runs the whole program with the arguments after the program name; returns the process's
    // exit status.
    int Run(HINSTANCE instance, const std::vector<std::string>& args);

private:
    // After the guard is taken: the common controls, the command line and the main window.
    int InitInstance(HINSTANCE instance, const std::vector<std::string>& args);

    SingleInstance m_hSingleInstance;
};

}  // namespace qdx::app
