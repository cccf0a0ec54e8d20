#include "app/win32/CDownloadDlg.h"

#include <commctrl.h>
#include <windowsx.h>

#include <chrono>

#include "app/DialogTemplates.h"
#include "app/StartPress.h"
#include "app/WindowTexts.h"
#include "app/win32/CAboutDlg.h"
#include "app/win32/DriveVolumeSource.h"
#include "app/win32/WideText.h"
#include "app/win32/resource.h"
#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"

namespace qdx::app {

static_assert(IDC_START == kIdStart && IDC_PROGRESS == kIdProgress &&
                  IDC_DEVICE_GROUP == kIdDeviceGroup && IDC_STATUS == kIdStatus,
              "the resource script and the shared templates name the same controls");

namespace {

constexpr UINT_PTR kWorkerWatchTimer = 1;
constexpr COLORREF kBackground = RGB(0xF0, 0xF0, 0xF0);

// The look of the window is the system's own (the manifest selects the current common
// controls); this keeps the call where the window expects a skinning library.
int ClassXP(HWND /*window*/, int /*enable*/) {
    return 1;
}

}  // namespace

CDownloadDlg::CDownloadDlg(HINSTANCE instance, DownloadDlgServices services)
    : m_instance(instance), m_services(std::move(services)) {
    if (!m_services.folders) {
        m_services.folders = PlatformFirmwareFolders;
    }
    if (!m_services.opener) {
        m_services.opener = std::make_unique<PlatformDeviceOpener>();
    }
    if (!m_services.volumes) {
        m_services.volumes = std::make_unique<DriveVolumeSource>();
    }
    if (!m_services.log) {
        m_services.log = StderrReasonLog();
    }
    m_brBackground = CreateSolidBrush(kBackground);
    m_hIcon =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_hIconSmall = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
    m_engine.SetBuiltinImage(BuiltinImage());
    m_engine.SetEndingPause(std::chrono::milliseconds(300));
    FreeDeviceSlots(g_deviceSlots);
}

CDownloadDlg::~CDownloadDlg() {
    // The window waited for the worker when it was destroyed; this covers a window that never
    // opened.
    m_gui.Detach();
    m_thread.Join();
    m_thread.BindEngine(nullptr);
    DestroyIcon(m_hIcon);
    DestroyIcon(m_hIconSmall);
    DeleteObject(m_brBackground);
}

INT_PTR CDownloadDlg::DoModal() {
    return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_QDXCLIENT_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDownloadDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDownloadDlg*>(lParam);
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        self->m_hWnd = dialog;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDownloadDlg*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CDownloadDlg::Result(LONG_PTR value) {
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, value);
    return TRUE;
}

INT_PTR CDownloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_START:
                    if (HIWORD(wParam) == BN_CLICKED) {
                        OnStartDownload();
                    }
                    return TRUE;
                case IDOK:      // Enter while no push button has the focus
                case IDCANCEL:  // Escape, the close box, Alt+F4
                    OnCloseRequest(LOWORD(wParam));
                    return TRUE;
                case IDM_SIM_UNPLUG:
                    if (SimVolumeSource* player = SimulatedPlayer()) {
                        m_services.opener->Unplug();
                        player->Unplug();
                    }
                    return TRUE;
                case IDM_SIM_PLUG_IN:
                    if (SimVolumeSource* player = SimulatedPlayer()) {
                        player->PlugIn();
                    }
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            OnPaint();
            return TRUE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            return OnCtlColor(message, reinterpret_cast<HDC>(wParam));
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_DEVICECHANGE:
            if (auto* drives = dynamic_cast<DriveVolumeSource*>(m_services.volumes.get())) {
                drives->OnDeviceChange(wParam, lParam);
            }
            return Result(0);
        case WM_TIMER:
            if (wParam == kWorkerWatchTimer) {
                WatchWorker();
            }
            return TRUE;
        case kWmGuiCall:
            GuiCaller::Carry(lParam);
            return Result(1);
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return TRUE;
        case WM_QUERYENDSESSION:
            // Shutting down or logging off now would leave the player's flash half written.
            return Result(m_thread.IsRunning() ? FALSE : TRUE);
        case WM_ENDSESSION:
            // The session ends regardless: the job is let finish before the process goes.
            if (wParam != 0) {
                OnDestroy();
            }
            return Result(0);
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL CDownloadDlg::OnInitDialog() {
    m_btnStart = GetDlgItem(m_hWnd, IDC_START);
    m_progressCtrl = GetDlgItem(m_hWnd, IDC_PROGRESS);
    m_stcStatus = GetDlgItem(m_hWnd, IDC_STATUS);
    m_grpDevice = GetDlgItem(m_hWnd, IDC_DEVICE_GROUP);

    // The About item at the end of the system menu.
    const std::wstring about = LoadText(IDS_ABOUTBOX);
    if (HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE); systemMenu != nullptr && !about.empty()) {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, kIdmAboutBox, about.c_str());
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
    ClassXP(nullptr, 1);

    m_pStatusCtl = m_stcStatus;
    m_pProgressCtl = m_progressCtrl;
    m_gui.Attach(m_hWnd);
    m_startPort = std::make_unique<StartButtonPort>(m_gui, m_btnStart);
    m_statusPort = std::make_unique<StatusTextPort>(m_gui, m_stcStatus);
    m_progressPort = std::make_unique<ProgressBarPort>(m_gui, m_progressCtrl);
    m_appMessageBox = std::make_unique<AppMessageBox>(m_gui, m_hWnd);
    m_engine.SetMessageBox(m_appMessageBox.get());
    if (!m_services.inhibitor) {
        m_services.inhibitor = MakePlatformSleepInhibitor(m_hWnd);
    }

    // Centred when it opens; afterwards it stays where the operator puts it.
    CentreWindow(m_hWnd, nullptr);
    ScanForPlayer();
    m_services.volumes->Watch([this](const VolumeEvent& event) { OnVolumeEvent(event); });
    return TRUE;  // the dialog manager gives the focus to the first control that takes it
}

void CDownloadDlg::ScanForPlayer() {
    const SlotChange change = qdx::app::ScanForPlayer(g_deviceSlots, m_services.volumes->Scan());
    if (change == SlotChange::Connected) {
        ShowSlotState(1, LoadText(IDS_CONNECTED), true);
        EnableWindow(m_btnStart, TRUE);
    } else {
        EnableWindow(m_btnStart, FALSE);
    }
    if (!IsWindowEnabled(m_stcStatus)) {
        SetWindowTextW(m_stcStatus, LoadText(IDS_NOT_CONNECTED).c_str());
    }
}

void CDownloadDlg::OnVolumeEvent(const VolumeEvent& event) {
    ApplySlotChange(qdx::app::OnVolumeEvent(g_deviceSlots, event));
}

void CDownloadDlg::ApplySlotChange(SlotChange change) {
    switch (change) {
        case SlotChange::None:
            break;
        case SlotChange::Connected: {
            EnableWindow(m_btnStart, TRUE);
            ShowSlotState(1, LoadText(IDS_CONNECTED), true);
            // Start is the only control that takes the keyboard; with it disabled the dialog
            // manager left the focus elsewhere.
            if (GetFocus() != m_btnStart) {
                SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnStart), TRUE);
            }
            break;
        }
        case SlotChange::Disconnected:
            EnableWindow(m_btnStart, FALSE);
            ShowSlotState(1, LoadText(IDS_NOT_CONNECTED), false);
            break;
    }
}

void CDownloadDlg::ShowSlotState(int slotNumber, const std::wstring& text, bool enable) {
    if (slotNumber != 1) {
        return;
    }
    EnableWindow(m_stcStatus, enable ? TRUE : FALSE);
    SetWindowTextW(m_stcStatus, text.c_str());
    EnableWindow(m_progressCtrl, enable ? TRUE : FALSE);
    SendMessageW(m_progressCtrl, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(m_progressCtrl, PBM_SETPOS, 0, 0);
}

void CDownloadDlg::OnStartDownload() {
    // The engine belongs to a running worker until its job ends (a re-plugged player enables
    // Start meanwhile): such a press does nothing.
    if (m_thread.IsRunning()) {
        return;
    }
    // A job that ended since the watcher last looked is wrapped up first: its player saved and
    // let go, before the next one is opened.
    WatchWorker();
    if (const auto refused =
            PrepareStart(m_services.folders(), m_services.opener->Simulated(), m_services.log)) {
        ShowMessage(refused->warningIcon, Wide(refused->text));
        return;
    }
    const int deviceCount = IsWindowEnabled(m_pStatusCtl) ? 1 : 0;
    EnableWindow(m_btnStart, FALSE);
    for (int slot = 0; slot < deviceCount; ++slot) {
        LaunchSlot(slot);
    }
}

void CDownloadDlg::LaunchSlot(int slot) {
    const LaunchPorts ports{m_startPort.get(), m_statusPort.get(), m_progressPort.get(),
                            m_appMessageBox.get()};
    const LaunchOutcome outcome =
        LaunchSlotPlayer(m_engine, m_thread, *m_services.opener,
                         g_deviceSlots[static_cast<std::size_t>(slot)].volume, ports);
    if (outcome != LaunchOutcome::Started) {
        return;
    }
    m_jobStarted = true;
    m_services.inhibitor->Acquire();
    SetTimer(m_hWnd, kWorkerWatchTimer, 100, nullptr);
}

void CDownloadDlg::WatchWorker() {
    if (m_thread.IsRunning()) {
        return;
    }
    KillTimer(m_hWnd, kWorkerWatchTimer);
    if (!m_jobStarted) {
        return;
    }
    m_jobStarted = false;
    m_thread.Join();  // the job has closed the player
    m_services.inhibitor->Release();
    m_services.opener->JobEnded();
    // Disabling Start took the keyboard focus away; Space presses Start again without a Tab.
    if (IsWindowEnabled(m_btnStart)) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnStart), TRUE);
    }
}

bool CDownloadDlg::OnSysCommand(UINT id) {
    if (!IsAboutCommand(id)) {
        return false;
    }
    CAboutDlg::DoModal(m_instance, m_hWnd);
    return true;
}

void CDownloadDlg::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (IsIconic(m_hWnd)) {
        SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, m_hIcon);
    } else {
        FillRect(dc, &client, m_brBackground);
    }
    EndPaint(m_hWnd, &paint);
}

INT_PTR CDownloadDlg::OnCtlColor(UINT message, HDC dc) {
    if (message == WM_CTLCOLORSTATIC) {
        SetBkMode(dc, TRANSPARENT);
    }
    return reinterpret_cast<INT_PTR>(m_brBackground);
}

void CDownloadDlg::OnCloseRequest(int command) {
    // Closing now would leave the player's flash half written and the worker without its
    // controls: the operator waits for the job to end.
    if (m_thread.IsRunning()) {
        ShowMessage(true, Wide(texts::kCloseRefused));
        return;
    }
    EndDialog(m_hWnd, command);
}

void CDownloadDlg::OnContextMenu(LPARAM position) {
    // Training on a simulated player: pull it out and plug it in again, as with a real one.
    const SimVolumeSource* player = SimulatedPlayer();
    if (player == nullptr) {
        return;
    }
    POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (position == -1) {  // from the keyboard: at the window's centre
        RECT window;
        GetWindowRect(m_hWnd, &window);
        at = {(window.left + window.right) / 2, (window.top + window.bottom) / 2};
    }
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING | (player->PluggedIn() ? 0 : MF_GRAYED), IDM_SIM_UNPLUG,
                Wide(texts::kSimUnplug).c_str());
    AppendMenuW(menu, MF_STRING | (player->PluggedIn() ? MF_GRAYED : 0), IDM_SIM_PLUG_IN,
                Wide(texts::kSimPlugIn).c_str());
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

void CDownloadDlg::OnDestroy() {
    // No thread outlives the window: requests from the worker are dropped from now on, and the
    // ones already waiting are carried out while we wait for it to end.
    m_gui.Detach();
    while (m_thread.IsRunning()) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(5);
    }
    KillTimer(m_hWnd, kWorkerWatchTimer);
    m_thread.Join();
    if (m_jobStarted) {
        m_jobStarted = false;
        m_services.inhibitor->Release();
        m_services.opener->JobEnded();
    }
}

SimVolumeSource* CDownloadDlg::SimulatedPlayer() const {
    return dynamic_cast<SimVolumeSource*>(m_services.volumes.get());
}

std::wstring CDownloadDlg::LoadText(UINT id) const {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(m_instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

void CDownloadDlg::ShowMessage(bool warningIcon, const std::wstring& text) {
    ShowAppMessage(m_hWnd, warningIcon, text);
}

}  // namespace qdx::app
