// The main window on the offscreen platform: its states, device tracking, the launch and its
// failures, whole downloads onto a simulated player, the About box and closing during a job.
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/WindowTexts.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/CDownloadDlg.h"
#include "app/qt/TermSignals.h"
#include "app/qt/bench/DemoSetup.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "files/FirmwareFiles.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

using namespace qdx::app;
using qdx::CFlashEngine;
using qdx::DeviceHandle;
namespace sim = qdx::sim;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class FakeVolumes : public IVolumeSource {
public:
    explicit FakeVolumes(std::vector<VolumeInfo> present) : m_present(std::move(present)) {}
    std::vector<VolumeInfo> Scan() override { return m_present; }
    void Watch(Listener listener) override { *m_listener = std::move(listener); }
    // Shared so the test can raise events after the window has taken the source.
    std::shared_ptr<Listener> listener() const { return m_listener; }

private:
    std::vector<VolumeInfo> m_present;
    std::shared_ptr<Listener> m_listener = std::make_shared<Listener>();
};

// Remembers every device it hands out, and how often it was asked.
class RecordingOpener : public IDeviceOpener {
public:
    explicit RecordingOpener(std::unique_ptr<IDeviceOpener> inner) : m_inner(std::move(inner)) {}
    DeviceHandle Open(const std::string& volume) override {
        volumes.push_back(volume);
        last = m_inner ? m_inner->Open(volume) : nullptr;
        return last;
    }
    void JobEnded() override {
        ++jobsEnded;
        if (m_inner) {
            m_inner->JobEnded();
        }
    }
    bool Simulated() const override { return simulated; }
    bool simulated = true;  // false: a real player, which the placeholder firmware never reaches
    std::vector<std::string> volumes;
    DeviceHandle last;
    int jobsEnded = 0;

private:
    std::unique_ptr<IDeviceOpener> m_inner;
};

class CountingInhibitor : public ISleepInhibitor {
public:
    void Acquire() override {
        ++acquired;
        m_held = true;
    }
    void Release() override { m_held = false; }
    bool Held() const override { return m_held; }
    int acquired = 0;

private:
    bool m_held = false;
};

struct Shown {
    MessageRequest request;
    bool onGuiThread = false;
};

// One window with its collaborators; the volume "/dev/sdb" stands for the player.
struct Rig {
    QTemporaryDir dir;
    std::string player;
    FakeVolumes* volumes = nullptr;
    std::shared_ptr<IVolumeSource::Listener> raise;
    RecordingOpener* opener = nullptr;
    CountingInhibitor* inhibitor = nullptr;
    std::shared_ptr<std::vector<Shown>> messages = std::make_shared<std::vector<Shown>>();
    std::unique_ptr<CDownloadDlg> window;
    QStringList statuses;
    std::shared_ptr<QStringList> logged = std::make_shared<QStringList>();

    struct Options {
        bool connected = true;
        bool uit = true;
        bool hzk = true;
        bool simulated = true;    // else the open fails
        bool realPlayer = false;  // the opener stands for a real player
        sim::FaultPlan faults{};
        std::chrono::microseconds latency{};
        std::vector<std::uint8_t> uitImage = demo::MakeImage(8 * 1024, 2);
    };

    explicit Rig(Options options) {
        const std::string path = dir.path().toStdString();
        std::string error;
        const auto factory = sim::SimPlayer::CreateFactory(demo::kDemoChip, false, {}, &error);
        player = path + "/player.sim";
        factory->Save(player, &error);
        if (options.uit) {
            demo::WriteBytes(path + "/player.uit", options.uitImage);
        }
        if (options.hzk) {
            demo::WriteBytes(path + "/font.hzk", demo::MakeImage(16 * 1024, 3));
        }

        DownloadDlgServices services;
        services.folders = [path] { return FirmwareFolders{path, {}}; };
        std::vector<VolumeInfo> present;
        if (options.connected) {
            present.push_back({"/dev/sdb", true, true});
        }
        auto fakeVolumes = std::make_unique<FakeVolumes>(present);
        volumes = fakeVolumes.get();
        raise = fakeVolumes->listener();
        services.volumes = std::move(fakeVolumes);
        std::unique_ptr<IDeviceOpener> inner;
        if (options.simulated) {
            inner = std::make_unique<SimDeviceOpener>(player, options.latency, options.faults);
        }
        auto recording = std::make_unique<RecordingOpener>(std::move(inner));
        recording->simulated = !options.realPlayer;
        opener = recording.get();
        services.opener = std::move(recording);
        auto counting = std::make_unique<CountingInhibitor>();
        inhibitor = counting.get();
        services.inhibitor = std::move(counting);
        services.presentMessage = [messages = messages](QWidget*, const MessageRequest& request) {
            messages->push_back({request, QThread::currentThread() == qApp->thread()});
        };
        services.log = [logged = logged](const std::string& line) {
            *logged << QString::fromStdString(line);
        };
        window = std::make_unique<CDownloadDlg>(std::move(services));
        QObject::connect(window.get(), &CDownloadDlg::statusChanged,
                         [this](const QString& text) { statuses << text; });
        window->show();
    }

    QPushButton* start() const { return window->findChild<QPushButton*>("startButton"); }
    QLabel* status() const { return window->findChild<QLabel*>("statusLine"); }
    QProgressBar* bar() const { return window->findChild<QProgressBar*>("progressBar"); }
    void arrive(const std::string& volume, bool media = true) {
        (*raise)({VolumeEvent::Kind::Arrival, volume, media});
    }
    void remove(const std::string& volume) { (*raise)({VolumeEvent::Kind::Removal, volume}); }
    QStringList messageTexts() const {
        QStringList texts;
        for (const Shown& shown : *messages) {
            texts << shown.request.text;
        }
        return texts;
    }
    // Presses Start and waits until the download that it started has ended.
    bool downloadToEnd(int timeoutMs = 30000) {
        QSignalSpy ended(window.get(), &CDownloadDlg::downloadEnded);
        window->OnStartDownload();
        return ended.wait(timeoutMs);
    }
};

// The window's state as one line, for readable comparisons.
QString StateOf(const Rig& rig) {
    return QString("%1|status %2|bar %3 %4|start %5")
        .arg(rig.status()->text())
        .arg(rig.status()->isEnabled() ? "on" : "off")
        .arg(rig.bar()->isEnabled() ? "on" : "off")
        .arg(rig.bar()->value())
        .arg(rig.start()->isEnabled() ? "on" : "off");
}

QString Connected() {
    return Q(texts::kConnected) + "|status on|bar on 0|start on";
}
QString NotConnected() {
    return Q(texts::kNotConnected) + "|status off|bar off 0|start off";
}

}  // namespace

class DownloadDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setApplicationName("qdxclient"); }

    void opensAsTheTemplateSays() {
        Rig rig({.connected = false});
        CDownloadDlg& w = *rig.window;
        QCOMPARE(w.windowTitle(), Q(texts::kMainTitle));
        QCOMPARE(StateOf(rig), NotConnected());
        QCOMPARE(w.minimumSize(), w.maximumSize());  // fixed size
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
        auto* group = w.findChild<QGroupBox*>("deviceGroup");
        QCOMPARE(group->title(), Q(texts::kDeviceGroup));
        QCOMPARE(group->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(rig.start()->text(), Q(texts::kStart));
        QVERIFY(!rig.start()->isDefault() && !rig.start()->autoDefault());
        QVERIFY(!rig.status()->autoFillBackground());
        QCOMPARE(rig.bar()->minimum(), 0);
        QCOMPARE(rig.bar()->maximum(), 100);
        // The controls keep the template's order from top to bottom, all inside the window.
        QVERIFY(group->geometry().contains(rig.status()->geometry()));
        QVERIFY(group->geometry().contains(rig.bar()->geometry()));
        QVERIFY(rig.status()->y() < rig.bar()->y());
        QVERIFY(group->geometry().bottom() < rig.start()->y());
        QVERIFY(w.rect().contains(rig.start()->geometry()));
        // The dialog font is a CJK one, so the texts render.
        QVERIFY2(QFontInfo(w.font()).family().contains("WenQuanYi") ||
                     QFontInfo(w.font()).family().contains("SimSun"),
                 qPrintable(QFontInfo(w.font()).family()));
        QCOMPARE(QFontInfo(w.font()).pointSize(), 9);
    }

    void opensConnectedWhenThePlayerIsThere() {
        Rig rig({});
        QCOMPARE(StateOf(rig), Connected());
    }

    void followsArrivalsAndRemovals() {
        Rig rig({.connected = false});
        rig.arrive("/dev/sdc", false);  // a reader without a medium
        QCOMPARE(StateOf(rig), NotConnected());
        rig.arrive("/dev/sdb");
        QCOMPARE(StateOf(rig), Connected());

        rig.bar()->setValue(40);
        rig.arrive("/dev/sdd");  // a second volume changes nothing
        rig.remove("/dev/sdd");  // nor does its removal
        QCOMPARE(rig.bar()->value(), 40);
        QVERIFY(rig.start()->isEnabled());

        rig.remove("/dev/sdb");
        QCOMPARE(StateOf(rig), NotConnected());
        // The freed slot remembers its volume: the same removal again is the player's removal.
        rig.status()->setText("x");
        rig.remove("/dev/sdb");
        QCOMPARE(StateOf(rig), NotConnected());

        rig.arrive("/dev/sdd");
        QCOMPARE(StateOf(rig), Connected());
        QCOMPARE(g_deviceSlots[0].volume, std::string("/dev/sdd"));
    }

    // Each launch that fails before a worker runs: what the operator sees and what is left.
    void launchFailures() {
        sim::FaultPlan unknownChip;
        unknownChip.failCommand = 1;  // the first identification read gets no answer
        struct Case {
            const char* name;
            Rig::Options options;
            QStringList messages;
            bool warningIcon;
            QString status;
            bool startEnabled;
            int opened;
        };
        const Case cases[] = {
            {"no UIT",
             {.uit = false},
             {Q(qdx::texts::kUitMissing)},
             false,
             Q(texts::kConnected),
             true,
             0},
            {"no HZK",
             {.hzk = false},
             {Q(qdx::texts::kHzkMissing)},
             false,
             Q(texts::kConnected),
             true,
             0},
            {"no player", {.connected = false}, {}, false, Q(texts::kNotConnected), false, 0},
            {"open fails",
             {.simulated = false},
             {Q(qdx::texts::kOpenFailed)},
             true,
             Q(texts::kConnected),
             false,
             1},
            {"the placeholder firmware and a real player",
             {.realPlayer = true},
             {Q(qdx::texts::kPlaceholderRefused)},
             true,
             Q(texts::kConnected),
             true,
             0},
            {"unknown chip",
             {.faults = unknownChip},
             {Q(qdx::texts::kUnknownChip)},
             true,
             Q(qdx::texts::kFailed),
             false,
             1},
        };
        for (const Case& c : cases) {
            Rig rig(c.options);
            rig.window->OnStartDownload();
            QVERIFY2(!rig.window->IsDownloading(), c.name);
            QCOMPARE(rig.messageTexts(), c.messages);
            for (const Shown& shown : *rig.messages) {
                QCOMPARE(shown.request.caption, QString("qdxclient"));
                QCOMPARE(shown.request.warningIcon, c.warningIcon);
            }
            QCOMPARE(rig.status()->text(), c.status);
            QCOMPARE(rig.start()->isEnabled(), c.startEnabled);
            QCOMPARE(int(rig.opener->volumes.size()), c.opened);
            // A missing file is also noted on standard error with the folder searched.
            const bool missingFile = !c.options.uit || !c.options.hzk;
            QCOMPARE(rig.logged->size(), missingFile ? 1 : 0);
            if (missingFile) {
                QVERIFY(rig.logged->first().contains(rig.dir.path()));
            }
            if (rig.opener->last) {
                // The handle of a failed launch is closed at once.
                QVERIFY2(static_cast<sim::SimDevice&>(*rig.opener->last).Closed(), c.name);
            }
            QCOMPARE(rig.inhibitor->acquired, 0);
            // Only an arrival enables Start again after a launch that got as far as the device.
            if (!c.startEnabled && c.opened > 0) {
                rig.remove("/dev/sdb");
                rig.arrive("/dev/sdb");
                QVERIFY(rig.start()->isEnabled());
            }
        }
    }

    // A stale copy beside the UIT: which one a directory lists first is arbitrary, so neither
    // is taken.
    void aSecondUitBesideTheProgramRefusesStart() {
        Rig rig({});
        const std::string dir = rig.dir.path().toStdString();
        std::filesystem::copy_file(dir + "/player.uit", dir + "/player.uit.bak");
        std::ifstream before(rig.player, std::ios::binary);
        const std::string playerBefore{std::istreambuf_iterator<char>(before), {}};

        rig.window->OnStartDownload();
        QVERIFY(!rig.window->IsDownloading());
        QCOMPARE(rig.messages->size(), std::size_t{1});
        const QString shown = rig.messages->front().request.text;
        QVERIFY2(shown.startsWith(Q(qdx::texts::kUitAmbiguous)), qPrintable(shown));
        QVERIFY2(shown.contains("player.uit.bak") &&
                     shown.contains(QRegularExpression("player\\.uit(、|$)")),
                 qPrintable(shown));
        QCOMPARE(int(rig.opener->volumes.size()), 0);
        QVERIFY(rig.start()->isEnabled());
        std::ifstream after(rig.player, std::ios::binary);
        QVERIFY(std::string(std::istreambuf_iterator<char>(after), {}) == playerBefore);
    }

    void wholeDownloadOntoASimulatedPlayer() {
        Rig rig({});
        QVERIFY(rig.downloadToEnd());
        QCOMPARE(StateOf(rig), Q(qdx::texts::kCompleted) + "|status on|bar on 0|start on");
        const QStringList expected = {
            Q(qdx::texts::kFormatting), Q(qdx::texts::kSendImPm),  Q(qdx::texts::kVerifying),
            Q(qdx::texts::kBackupImPm), Q(qdx::texts::kVerifying), Q(qdx::texts::kSendUit),
            Q(qdx::texts::kVerifying),  Q(qdx::texts::kBackupUit), Q(qdx::texts::kVerifying),
            Q(qdx::texts::kSendFont),   Q(qdx::texts::kVerifying), Q(qdx::texts::kBackupFont),
            Q(qdx::texts::kVerifying),  Q(qdx::texts::kCompleted)};
        QCOMPARE(rig.statuses, expected);
        QVERIFY(rig.messages->empty());
        QCOMPARE(rig.inhibitor->acquired, 1);
        QVERIFY(!rig.inhibitor->Held());
        QCOMPARE(rig.opener->jobsEnded, 1);
        QVERIFY(static_cast<sim::SimDevice&>(*rig.opener->last).Closed());

        // The player was saved back: its font area now holds the font image.
        std::string error;
        std::shared_ptr<sim::SimPlayer> saved = sim::SimPlayer::Load(rig.player, &error);
        QVERIFY2(saved, error.c_str());
        CFlashEngine reader;
        QVERIFY(reader.InitFlash(std::make_shared<sim::SimDevice>(saved)));
        std::vector<std::uint8_t> sector(512);
        saved->ReadData(
            static_cast<std::uint32_t>(reader.m_layout[qdx::kSlotFont]) * saved->SectorsPerBlock(),
            sector.data());
        const std::vector<std::uint8_t> font = demo::MakeImage(16 * 1024, 3);
        QVERIFY(std::equal(sector.begin(), sector.end(), font.begin() + 512));

        // A second download runs on the same window.
        rig.statuses.clear();
        QVERIFY(rig.downloadToEnd());
        QCOMPARE(rig.statuses.last(), Q(qdx::texts::kCompleted));
        QVERIFY(rig.start()->isEnabled());
    }

    void kernelChecksumFailsAtTheJob() {
        // The launch stops before the kernel block; the job reads it after the format.
        sim::FaultPlan faults;
        std::string error;
        const auto probe = sim::SimPlayer::CreateFactory(demo::kDemoChip, false, {}, &error);
        faults.corruptRead.push_back(probe->SectorsPerBlock());  // the second block's first sector
        Rig rig({.faults = faults});
        QVERIFY(rig.downloadToEnd());
        QCOMPARE(rig.messageTexts(),
                 QStringList({Q(qdx::texts::kKernelChecksum), Q(qdx::texts::kInitFailed)}));
        for (const Shown& shown : *rig.messages) {
            QVERIFY(shown.onGuiThread);  // shown by the GUI thread while the worker waited
            QVERIFY(shown.request.warningIcon);
            QCOMPARE(shown.request.caption, QString("qdxclient"));
        }
        QCOMPARE(StateOf(rig), Q(qdx::texts::kFailed) + "|status on|bar on 0|start on");
        QVERIFY(!rig.inhibitor->Held());
        QCOMPARE(rig.opener->jobsEnded, 1);
    }

    void writeFailureLeavesStartDisabledUntilTheNextArrival() {
        std::vector<std::uint8_t> badUit = demo::MakeImage(8 * 1024, 2);
        badUit[15] ^= 0x01;  // checksum no longer holds
        Rig rig({.uitImage = badUit});
        auto bytes = [&rig] {
            std::ifstream in(rig.player, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string before = bytes();
        QVERIFY(rig.downloadToEnd());
        QCOMPARE(rig.messageTexts(), QStringList({Q(qdx::texts::kFileChecksum)}));
        // Refused before the format: the player holds what it held.
        QVERIFY(bytes() == before);
        QCOMPARE(rig.window->Thread().ExitCode(), 259u);
        QCOMPARE(StateOf(rig), Q(qdx::texts::kFailed) + "|status on|bar on 0|start off");
        QVERIFY(!rig.inhibitor->Held());
        QVERIFY(static_cast<sim::SimDevice&>(*rig.opener->last).Closed());

        rig.arrive("/dev/sdc");  // another volume does not count
        QVERIFY(!rig.start()->isEnabled());
        rig.remove("/dev/sdb");
        rig.arrive("/dev/sdb");
        QCOMPARE(StateOf(rig), Connected());
    }

    void duringADownload() {
        // Slow enough that the job is still running while we act.
        Rig rig({.latency = std::chrono::microseconds(300)});
        QSignalSpy ended(rig.window.get(), &CDownloadDlg::downloadEnded);
        rig.window->OnStartDownload();
        QVERIFY(rig.window->IsDownloading());
        QVERIFY(rig.inhibitor->Held());
        QVERIFY(!rig.start()->isEnabled());

        // Closing is refused, and the operator is told why.
        QVERIFY(!rig.window->close());
        QVERIFY(rig.window->isVisible());
        QCOMPARE(rig.messageTexts(), QStringList({Q(texts::kCloseRefused)}));

        // Unplugged and plugged in again: Start comes back, but a press does nothing while the
        // worker lives.
        rig.remove("/dev/sdb");
        QCOMPARE(rig.status()->text(), Q(texts::kNotConnected));
        rig.arrive("/dev/sdb");
        QVERIFY(rig.start()->isEnabled());
        QTest::mouseClick(rig.start(), Qt::LeftButton);
        QCOMPARE(int(rig.opener->volumes.size()), 1);
        QVERIFY(rig.start()->isEnabled());

        QVERIFY(ended.wait(60000));
        QCOMPARE(rig.status()->text(), Q(qdx::texts::kCompleted));
        QVERIFY(!rig.inhibitor->Held());
        QVERIFY(rig.window->close());
        QVERIFY(!rig.window->isVisible());
    }

    void destroyingTheWindowWaitsForTheWorker() {
        Rig rig({.latency = std::chrono::microseconds(100)});
        rig.window->OnStartDownload();
        QVERIFY(rig.window->IsDownloading());
        const DeviceHandle device = rig.opener->last;
        rig.window.reset();  // must neither hang nor leave the worker behind
        // The job ran to its end, which closes the device.
        QVERIFY(static_cast<sim::SimDevice&>(*device).Closed());
    }

    void aboutBoxForIds16To31() {
        Rig rig({});
        int opened = 0;
        QString title, version;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                ++opened;
                title = about->windowTitle();
                version = about->findChild<QLabel*>("aboutVersion")->text();
                QTest::mouseClick(about->findChild<QPushButton*>("aboutOk"), Qt::LeftButton);
            }
        });
        closer.start();
        for (std::uint32_t id : {16u, 17u, 31u}) {
            QVERIFY(rig.window->OnSysCommand(id));
        }
        for (std::uint32_t id : {15u, 32u, 0xF060u}) {
            QVERIFY(!rig.window->OnSysCommand(id));
        }
        closer.stop();
        QCOMPARE(opened, 3);
        QCOMPARE(title, Q(texts::kAboutTitle));
        QCOMPARE(version, Q(texts::kAboutVersion));

        // The window's context menu carries the About item with its command id.
        QString itemText;
        QVariant itemId;
        QTimer::singleShot(50, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                itemText = menu->actions().value(0)->text();
                itemId = menu->actions().value(0)->data();
                menu->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                rig.window->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(rig.window.get(), &event);
        QCOMPARE(itemText, Q(texts::kAboutMenuItem));
        QCOMPARE(itemId.toUInt(), 16u);
    }

    // Enter as a dialog takes it: on the focused Start button it presses it; with no push button
    // focused it is the dialog's OK, which closes the idle window and is refused during a job.
    void enterPressesTheFocusedStartAndTheFocusComesBack() {
        Rig rig({.latency = std::chrono::microseconds(50)});
        rig.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        QTRY_COMPARE(QApplication::focusWidget(), rig.start());

        QSignalSpy ended(rig.window.get(), &CDownloadDlg::downloadEnded);
        QTest::keyClick(rig.start(), Qt::Key_Return);
        QVERIFY(rig.window->IsDownloading());
        QVERIFY(ended.wait(60000));
        QCOMPARE(rig.status()->text(), Q(qdx::texts::kCompleted));
        // Disabling Start during the job took the focus away; it is back, so Space works.
        QCOMPARE(QApplication::focusWidget(), rig.start());
        QTest::keyClick(rig.start(), Qt::Key_Space);
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended.count(), 2);

        // Enter with no push button focused, during a job: refused like any closing.
        rig.window->OnStartDownload();
        QVERIFY(rig.window->IsDownloading());
        rig.window->setFocus();
        QTest::keyClick(rig.window.get(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(rig.window->isVisible());
        QCOMPARE(rig.messageTexts(), QStringList({Q(texts::kCloseRefused)}));
        QVERIFY(ended.wait(60000));
        // Idle: the dialog's OK closes it.
        rig.window->setFocus();
        QTest::keyClick(rig.window.get(), Qt::Key_Return);
        QVERIFY(!rig.window->isVisible());
    }

    void centresWhenItOpensOnly() {
        Rig rig({});
        const QRect screen = rig.window->screen()->availableGeometry();
        // Centred within the rounding of odd sizes.
        QVERIFY((rig.window->geometry().center() - screen.center()).manhattanLength() <= 4);
        // Moved by the operator, minimised and restored: it stays where it was put.
        rig.window->move(screen.topLeft() + QPoint(20, 30));
        const QPoint placed = rig.window->pos();
        rig.window->hide();
        rig.window->show();
        QCOMPARE(rig.window->pos(), placed);
    }

    // A termination request during a job waits for its end, then closes the window with the
    // player's handle closed and the simulated player saved.
    void terminationWaitsForTheJob() {
        Rig rig({.latency = std::chrono::microseconds(300)});
        QSignalSpy ended(rig.window.get(), &CDownloadDlg::downloadEnded);
        rig.window->OnStartDownload();
        QVERIFY(rig.window->IsDownloading());
        rig.window->CloseWhenIdle();
        QVERIFY(rig.window->isVisible());
        QVERIFY(rig.messages->empty());  // nobody to tell: the window just waits
        QVERIFY(ended.wait(60000));
        QVERIFY(!rig.window->isVisible());
        QCOMPARE(rig.status()->text(), Q(qdx::texts::kCompleted));
        QCOMPARE(rig.opener->jobsEnded, 1);
        QVERIFY(static_cast<sim::SimDevice&>(*rig.opener->last).Closed());

        Rig idle({});
        idle.window->CloseWhenIdle();
        QVERIFY(!idle.window->isVisible());
    }

    void termSignalsArriveOnTheEventLoop() {
        TermSignals termination;
        QSignalSpy received(&termination, &TermSignals::received);
        std::raise(SIGTERM);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.first().first().toInt(), SIGTERM);
        std::raise(SIGHUP);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.last().first().toInt(), SIGHUP);
    }

    // Training on a simulated player (with faults from the command line elsewhere): pulled out
    // in the middle of a job, the job fails as with a real player; plugged in again, the next
    // download completes.
    void simulatedPlayerUnpluggedAndPluggedIn() {
        QTemporaryDir dir;
        const std::string path = dir.path().toStdString();
        std::string error;
        QVERIFY2(demo::WriteDemoSet(path, 64 * 1024, 64 * 1024, &error), error.c_str());
        auto messages = std::make_shared<QStringList>();
        CDownloadDlg window(demo::DemoServices(
            path, std::chrono::microseconds(300),
            [messages](QWidget*, const MessageRequest& request) { *messages << request.text; }));
        window.show();
        auto* status = window.findChild<QLabel*>("statusLine");
        auto* start = window.findChild<QPushButton*>("startButton");
        auto* bar = window.findChild<QProgressBar*>("progressBar");
        QTRY_COMPARE(status->text(), Q(texts::kConnected));
        QVERIFY(window.SimulatedPlayer()->PluggedIn());

        QSignalSpy ended(&window, &CDownloadDlg::downloadEnded);
        window.OnStartDownload();
        QTRY_VERIFY(bar->value() >= 10);
        window.UnplugSimulatedPlayer();
        QVERIFY(!window.SimulatedPlayer()->PluggedIn());
        QVERIFY(ended.wait(60000));
        QCOMPARE(status->text(), Q(qdx::texts::kFailed));
        QVERIFY(!messages->isEmpty());
        QVERIFY(!start->isEnabled());

        // The context menu offers plugging it in now, not pulling it out.
        QStringList items;
        QList<bool> enabled;
        QTimer::singleShot(50, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions()) {
                    if (!action->isSeparator()) {
                        items << action->text();
                        enabled << action->isEnabled();
                    }
                }
                menu->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                window.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&window, &event);
        QCOMPARE(items, QStringList({Q(texts::kAboutMenuItem), Q(texts::kSimUnplug),
                                     Q(texts::kSimPlugIn)}));
        QCOMPARE(enabled, QList<bool>({true, false, true}));

        window.PlugInSimulatedPlayer();
        QCOMPARE(status->text(), Q(texts::kConnected));
        QVERIFY(start->isEnabled());
        window.OnStartDownload();
        QVERIFY(ended.wait(60000));
        QCOMPARE(status->text(), Q(qdx::texts::kCompleted));
    }
};

QTEST_MAIN(DownloadDlgTest)
#include "DownloadDlgTest.moc"
