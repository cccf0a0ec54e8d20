// The main window, dialog template 102: one device slot with its status line, progress bar and
// Start button; it follows the player's volume and launches downloads on its worker. The twin of
// app/qt/CDownloadDlg.h.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/DeviceOpener.h"
#include "app/DeviceTracking.h"
#include "app/FirmwareFolder.h"
#include "app/SimVolumeSource.h"
#include "app/SleepInhibitor.h"
#include "app/StartPress.h"
#include "app/win32/GuiPorts.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/JobSettings.h"
#include "transport/Device.h"

namespace qdx::app {

// What the window needs from outside; every part has a platform default.
struct DownloadDlgServices {
    std::function<FirmwareFolders()> folders;    // where the UIT and HZK files lie
    std::unique_ptr<IVolumeSource> volumes;      // the player's volume
    std::unique_ptr<IDeviceOpener> opener;       // opening a slot's volume
    std::unique_ptr<ISleepInhibitor> inhibitor;  // held while a download runs
    ReasonLog log;                               // notes for standard error
};

class CDownloadDlg {
public:
    CDownloadDlg(HINSTANCE instance, DownloadDlgServices services);
    ~CDownloadDlg();
    CDownloadDlg(const CDownloadDlg&) = delete;
    CDownloadDlg& operator=(const CDownloadDlg&) = delete;

    // Shows the window and returns once it is closed.
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The value a dialog procedure returns through DWLP_MSGRESULT.
    INT_PTR Result(LONG_PTR value);

    BOOL OnInitDialog();
    void ScanForPlayer();
    void OnVolumeEvent(const VolumeEvent& event);
    void ApplySlotChange(SlotChange change);
    void ShowSlotState(int slotNumber, const std::wstring& text, bool enable);
    void OnStartDownload();
    void LaunchSlot(int slot);
    void WatchWorker();
    bool OnSysCommand(UINT id);
    void OnPaint();
    INT_PTR OnCtlColor(UINT message, HDC dc);
    void OnCloseRequest(int command);
    void OnContextMenu(LPARAM position);
    void OnDestroy();
    SimVolumeSource* SimulatedPlayer() const;
    std::wstring LoadText(UINT id) const;
    void ShowMessage(bool warningIcon, const std::wstring& text);

    HINSTANCE m_instance;
    HWND m_hWnd = nullptr;
    DownloadDlgServices m_services;
    GuiCaller m_gui;

    HWND m_btnStart = nullptr;
    HWND m_stcStatus = nullptr;
    HWND m_progressCtrl = nullptr;
    HWND m_grpDevice = nullptr;
    HWND m_pStatusCtl = nullptr;
    HWND m_pProgressCtl = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
    HBRUSH m_brBackground = nullptr;

    std::unique_ptr<StartButtonPort> m_startPort;
    std::unique_ptr<StatusTextPort> m_statusPort;
    std::unique_ptr<ProgressBarPort> m_progressPort;
    std::unique_ptr<AppMessageBox> m_appMessageBox;

    CFlashEngine m_engine;
    bool m_jobStarted = false;
    // Last: destroyed first, after the window has seen the worker end.
    CDownloadThread m_thread;
};

}  // namespace qdx::app
