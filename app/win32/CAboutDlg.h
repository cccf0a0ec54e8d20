// The About box: template 100, icon, program name and version, OK.
#pragma once

#include <windows.h>

namespace qdx::app {

class CAboutDlg {
public:
    // Shows the box modally over owner, centred on it; returns once it is closed.
    static void DoModal(HINSTANCE instance, HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

// Centres window over the owner, or over the work area of the window's monitor without one.
void CentreWindow(HWND window, HWND over);

}  // namespace qdx::app
