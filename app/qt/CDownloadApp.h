// The program: one instance per session, one modal main window, then the end.
#pragma once

#include "app/SingleInstance.h"

namespace qdx::app {

class CDownloadApp {
public:
    // Runs the whole program; returns the process's exit status.
    int Run(int argc, char** argv);

private:
    // After the guard is taken: the toolkit, the command line and the main window.
    int InitInstance(int argc, char** argv);

    SingleInstance m_hSingleInstance;
};

}  // namespace qdx::app
