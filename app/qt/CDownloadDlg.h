// The main window: one device slot with its status line, progress bar and Start button; it
// follows the player's volume and launches downloads on its worker.
#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "app/DeviceOpener.h"
#include "app/DeviceTracking.h"
#include "app/FirmwareFolder.h"
#include "app/SimVolumeSource.h"
#include "app/SleepInhibitor.h"
#include "app/StartPress.h"
#include "app/qt/GuiPorts.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/JobSettings.h"
#include "transport/Device.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qdx::app {

// What the window needs from outside; every part has a platform default.
struct DownloadDlgServices {
    std::function<FirmwareFolders()> folders;    // where the UIT and HZK files may lie
    std::unique_ptr<IVolumeSource> volumes;      // the player's volume
    std::unique_ptr<IDeviceOpener> opener;       // opening a slot's volume
    std::unique_ptr<ISleepInhibitor> inhibitor;  // held while a download runs
    MessagePresenter presentMessage;             // modal message boxes
    ReasonLog log;                               // notes for standard error
};

// Fills the parts left empty with the platform's: the program's folder and the user's data
// folder, udev, the checked disk, logind, QMessageBox, standard error.
DownloadDlgServices WithPlatformDefaults(DownloadDlgServices services);

class CDownloadDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDownloadDlg(DownloadDlgServices services, QWidget* parent = nullptr);
    ~CDownloadDlg() override;

    // A click on the Start button (control 1000).
    void OnStartDownload();
    // A system command: ids 16..31 open the About box (true); the rest are not ours (false).
    bool OnSysCommand(std::uint32_t id);

    // The simulated player pulled out (a running job loses it) and plugged in again, as the
    // context menu offers them; nothing without a simulated player.
    void UnplugSimulatedPlayer();
    void PlugInSimulatedPlayer();
    SimVolumeSource* SimulatedPlayer() const;

    // Closes the window now, or once the running download has ended (a termination request).
    void CloseWhenIdle();

    bool IsDownloading() const { return m_thread.IsRunning(); }
    const CDownloadThread& Thread() const { return m_thread; }

signals:
    // The status line was given a text, by the window or by the worker.
    void statusChanged(const QString& text);
    // The worker of a started download has ended and its handle, lock and player are released.
    void downloadEnded();

protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnInitDialog();
    void ScanForPlayer();
    void OnVolumeEvent(const VolumeEvent& event);
    void ApplySlotChange(SlotChange change);
    void ShowSlotState(int slotNumber, const QString& text, bool enable);
    void LaunchSlot(int slot);
    void WatchWorker();
    void ShowMessage(bool warningIcon, const QString& text);

    DownloadDlgServices m_services;
    GuiCaller m_gui{this};

    QPushButton* m_btnStart = nullptr;
    QLabel* m_stcStatus = nullptr;
    QProgressBar* m_progressCtrl = nullptr;
    QGroupBox* m_grpDevice = nullptr;
    QLabel* m_pStatusCtl = nullptr;
    QProgressBar* m_pProgressCtl = nullptr;

    std::unique_ptr<StartButtonPort> m_startPort;
    std::unique_ptr<StatusTextPort> m_statusPort;
    std::unique_ptr<ProgressBarPort> m_progressPort;
    std::unique_ptr<AppMessageBox> m_appMessageBox;

    CFlashEngine m_engine;
    QTimer m_workerWatch;
    bool m_jobStarted = false;
    bool m_centred = false;
    bool m_closeAfterJob = false;
    // Last: destroyed first, after the destructor has seen the worker end.
    CDownloadThread m_thread;
};

}  // namespace qdx::app
