#include "app/qt/CDownloadDlg.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include <chrono>

#include "app/DialogTemplates.h"
#include "app/StartPress.h"
#include "app/WindowTexts.h"
#include "app/qt/AppIcon.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/DialogFont.h"
#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"

#include "app/qt/UdevMonitor.h"

namespace qdx::app {

namespace {

// The look of the window is the toolkit's own; this keeps the call where the window expects a
// skinning library.
int ClassXP(void* /*window*/, int /*enable*/) {
    return 1;
}

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace

DownloadDlgServices WithPlatformDefaults(DownloadDlgServices services) {
    if (!services.folders) {
        services.folders = PlatformFirmwareFolders;
    }
    if (!services.log) {
        services.log = StderrReasonLog();
    }
    if (!services.opener) {
        services.opener = std::make_unique<PlatformDeviceOpener>();
    }
    if (!services.inhibitor) {
        services.inhibitor = MakePlatformSleepInhibitor();
    }
    if (!services.presentMessage) {
        services.presentMessage = ModalMessagePresenter();
    }
    return services;
}

CDownloadDlg::CDownloadDlg(DownloadDlgServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_services(WithPlatformDefaults(std::move(services))) {
    setObjectName("downloadDlg");
    setWindowTitle(Text(texts::kMainTitle));
    const QFont font = DialogFont();
    setFont(font);
    const DialogBaseUnits base = BaseUnitsOf(font);
    setFixedSize(PixelRect(MainTemplate::kClient, base).size());

    // Background 0xF0F0F0 behind the window and every transparent static.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    setPalette(palette);
    setAutoFillBackground(true);

    // The group box is a sibling drawn beneath the controls it frames, as in the template.
    m_grpDevice = new QGroupBox(Text(texts::kDeviceGroup), this);
    m_grpDevice->setObjectName("deviceGroup");
    m_grpDevice->setAlignment(Qt::AlignHCenter);
    m_grpDevice->setGeometry(PixelRect(MainTemplate::kDeviceGroup, base));

    m_stcStatus = new QLabel(Text(texts::kStatusInitial), this);
    m_stcStatus->setObjectName("statusLine");
    m_stcStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_stcStatus->setAutoFillBackground(false);
    m_stcStatus->setAttribute(Qt::WA_TranslucentBackground);
    m_stcStatus->setGeometry(PixelRect(MainTemplate::kStatus, base));
    m_stcStatus->setEnabled(false);

    m_progressCtrl = new QProgressBar(this);
    m_progressCtrl->setObjectName("progressBar");
    m_progressCtrl->setRange(0, 100);
    m_progressCtrl->setValue(0);
    m_progressCtrl->setTextVisible(false);
    m_progressCtrl->setGeometry(PixelRect(MainTemplate::kProgress, base));
    m_progressCtrl->setEnabled(false);

    m_btnStart = new QPushButton(Text(texts::kStart), this);
    m_btnStart->setObjectName("startButton");
    m_btnStart->setAutoDefault(false);
    m_btnStart->setDefault(false);
    m_btnStart->setGeometry(PixelRect(MainTemplate::kStart, base));
    connect(m_btnStart, &QPushButton::clicked, this, [this] { OnStartDownload(); });

    m_startPort = std::make_unique<StartButtonPort>(m_gui, m_btnStart);
    m_statusPort = std::make_unique<StatusTextPort>(
        m_gui, m_stcStatus, [this](const QString& text) { emit statusChanged(text); });
    m_progressPort = std::make_unique<ProgressBarPort>(m_gui, m_progressCtrl);
    m_appMessageBox = std::make_unique<AppMessageBox>(m_gui, this, m_services.presentMessage);
    m_engine.SetMessageBox(m_appMessageBox.get());
    m_engine.SetBuiltinImage(BuiltinImage());
    m_engine.SetEndingPause(std::chrono::milliseconds(300));

    m_workerWatch.setInterval(100);
    connect(&m_workerWatch, &QTimer::timeout, this, [this] { WatchWorker(); });

    FreeDeviceSlots(g_deviceSlots);

    if (!m_services.volumes) {
        m_services.volumes = std::make_unique<UdevVolumeSource>();
    }
    OnInitDialog();
}

CDownloadDlg::~CDownloadDlg() {
    // No thread outlives the window: requests from the worker are dropped from now on, and the
    // ones already waiting are carried out while we wait for it to end.
    m_gui.Detach();
    while (m_thread.IsRunning()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    m_thread.Join();
    if (m_jobStarted) {
        m_services.inhibitor->Release();
        m_services.opener->JobEnded();
    }
    m_thread.BindEngine(nullptr);
}

void CDownloadDlg::OnInitDialog() {
    // The window manager owns the system menu: the About item is in the context menu.
    setWindowIcon(AppIcon());
    ClassXP(nullptr, 1);
    m_pStatusCtl = m_stcStatus;
    m_pProgressCtl = m_progressCtrl;
    ScanForPlayer();
    m_services.volumes->Watch([this](const VolumeEvent& event) { OnVolumeEvent(event); });
}

void CDownloadDlg::ScanForPlayer() {
    const SlotChange change = qdx::app::ScanForPlayer(g_deviceSlots, m_services.volumes->Scan());
    if (change == SlotChange::Connected) {
        ShowSlotState(1, Text(texts::kConnected), true);
        m_btnStart->setEnabled(true);
    } else {
        m_btnStart->setEnabled(false);
    }
    if (!m_stcStatus->isEnabled()) {
        m_stcStatus->setText(Text(texts::kNotConnected));
        emit statusChanged(m_stcStatus->text());
    }
}

void CDownloadDlg::OnVolumeEvent(const VolumeEvent& event) {
    ApplySlotChange(qdx::app::OnVolumeEvent(g_deviceSlots, event));
}

void CDownloadDlg::ApplySlotChange(SlotChange change) {
    switch (change) {
        case SlotChange::None:
            break;
        case SlotChange::Connected:
            m_btnStart->setEnabled(true);
            ShowSlotState(1, Text(texts::kConnected), true);
            // Start is the only control that takes the keyboard.
            m_btnStart->setFocus();
            break;
        case SlotChange::Disconnected:
            m_btnStart->setEnabled(false);
            ShowSlotState(1, Text(texts::kNotConnected), false);
            break;
    }
}

void CDownloadDlg::ShowSlotState(int slotNumber, const QString& text, bool enable) {
    if (slotNumber != 1) {
        return;
    }
    m_stcStatus->setEnabled(enable);
    m_stcStatus->setText(text);
    emit statusChanged(text);
    m_progressCtrl->setEnabled(enable);
    m_progressCtrl->setRange(0, 100);
    m_progressCtrl->setValue(0);
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
        ShowMessage(refused->warningIcon, QString::fromStdString(refused->text));
        return;
    }
    const int deviceCount = m_pStatusCtl->isEnabled() ? 1 : 0;
    m_btnStart->setEnabled(false);
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
    m_workerWatch.start();
}

void CDownloadDlg::WatchWorker() {
    if (m_thread.IsRunning()) {
        return;
    }
    m_workerWatch.stop();
    if (!m_jobStarted) {
        return;
    }
    m_jobStarted = false;
    m_thread.Join();  // the job has closed the player
    m_services.inhibitor->Release();
    m_services.opener->JobEnded();
    // Disabling Start took the keyboard focus away; Space presses Start again without a Tab.
    if (m_btnStart->isEnabled()) {
        m_btnStart->setFocus();
    }
    emit downloadEnded();
    if (m_closeAfterJob) {
        QDialog::done(QDialog::Rejected);
    }
}

void CDownloadDlg::CloseWhenIdle() {
    if (m_thread.IsRunning()) {
        m_closeAfterJob = true;
        return;
    }
    QDialog::done(QDialog::Rejected);
}

SimVolumeSource* CDownloadDlg::SimulatedPlayer() const {
    return dynamic_cast<SimVolumeSource*>(m_services.volumes.get());
}

void CDownloadDlg::UnplugSimulatedPlayer() {
    if (SimVolumeSource* player = SimulatedPlayer()) {
        m_services.opener->Unplug();
        player->Unplug();
    }
}

void CDownloadDlg::PlugInSimulatedPlayer() {
    if (SimVolumeSource* player = SimulatedPlayer()) {
        player->PlugIn();
    }
}

bool CDownloadDlg::OnSysCommand(std::uint32_t id) {
    if (!IsAboutCommand(id)) {
        return false;
    }
    CAboutDlg about(this);
    about.exec();
    return true;
}

void CDownloadDlg::ShowMessage(bool warningIcon, const QString& text) {
    m_services.presentMessage(
        this, MessageRequest{warningIcon, QCoreApplication::applicationName(), text});
}

void CDownloadDlg::done(int result) {
    // Closing now would leave the player's flash half written and the worker without its
    // controls: the operator waits for the job to end.
    if (m_thread.IsRunning()) {
        ShowMessage(true, Text(texts::kCloseRefused));
        return;
    }
    QDialog::done(result);
}

void CDownloadDlg::showEvent(QShowEvent* event) {
    // Centred when it opens; afterwards it stays where the operator put it, also when restored.
    if (!m_centred) {
        if (QScreen* screen = this->screen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
        m_centred = true;
    }
    QDialog::showEvent(event);
}

void CDownloadDlg::keyPressEvent(QKeyEvent* event) {
    // Enter as a dialog takes it: a focused push button is pressed, otherwise the dialog's OK,
    // which closes it (refused while a download runs). Escape stays the dialog's cancel.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (auto* button = qobject_cast<QPushButton*>(focusWidget());
        button != nullptr && button->isEnabled()) {
        button->click();
        return;
    }
    accept();
}

void CDownloadDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Where the window manager owns the system menu, the About item lives here.
    const QString item = Text(texts::kAboutMenuItem);
    if (item.isEmpty()) {
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(item);
    about->setData(kIdmAboutBox);
    // Training on a simulated player: pull it out and plug it in again, as with a real one.
    QAction* unplug = nullptr;
    QAction* plugIn = nullptr;
    if (const SimVolumeSource* player = SimulatedPlayer()) {
        menu.addSeparator();
        unplug = menu.addAction(Text(texts::kSimUnplug));
        unplug->setEnabled(player->PluggedIn());
        plugIn = menu.addAction(Text(texts::kSimPlugIn));
        plugIn->setEnabled(!player->PluggedIn());
    }
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == nullptr) {
        return;
    }
    if (chosen == unplug) {
        UnplugSimulatedPlayer();
    } else if (chosen == plugIn) {
        PlugInSimulatedPlayer();
    } else {
        OnSysCommand(chosen->data().toUInt());
    }
}

}  // namespace qdx::app
