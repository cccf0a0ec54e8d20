// qdxclient.exe driven as an operator drives it, from another process: it is started on a
// simulated player, its controls are read back and pressed with window messages, and its
// message boxes are read and dismissed. Runs under wine with a display (Xvfb in CI).
//
//   win32_window_tests QDXCLIENT_EXE [gtest options]
// With QDX_SCREENSHOT=FILE.png set, the window is also saved as a picture in the middle of a
// download.
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/DialogTemplates.h"
#include "app/WindowTexts.h"
#include "app/win32/WideText.h"
#include "app/win32/resource.h"
#include "engine/CFlashEngine.h"
#include "engine/Texts.h"
#include "files/FirmwareFiles.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace qdx::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::wstring g_clientExe;

std::wstring W(const char* utf8) {
    return Wide(utf8);
}

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = 20000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A window's text, asked for with a time-out so a hung program fails the test instead of
// hanging it.
std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer),
                             reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &copied)) {
        return L"<no answer>";
    }
    return std::wstring(buffer, copied);
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

struct FoundWindow {
    DWORD processId;
    HWND owner;          // null: any
    std::wstring title;  // empty: any
    HWND exclude;
    HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto* wanted = reinterpret_cast<FoundWindow*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64] = {};
    GetClassNameW(window, className, static_cast<int>(std::size(className)));
    if (processId != wanted->processId || std::wstring(className) != L"#32770" ||
        !IsWindowVisible(window) || window == wanted->exclude) {
        return TRUE;
    }
    if (wanted->owner != nullptr && GetWindow(window, GW_OWNER) != wanted->owner) {
        return TRUE;
    }
    if (!wanted->title.empty() && TextOf(window) != wanted->title) {
        return TRUE;
    }
    wanted->found = window;
    return FALSE;
}

// A visible dialog of the process (the main window, a message box, the About box).
HWND FindDialog(DWORD processId, const std::wstring& title, HWND owner = nullptr,
                HWND exclude = nullptr) {
    FoundWindow wanted{processId, owner, title, exclude};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&wanted));
    return wanted.found;
}

// The text of a message box: its static control 0xFFFF.
std::wstring MessageText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// One folder with a copy of the program, the images it finds beside itself, and a simulated
// player as it leaves the factory.
class Folder {
public:
    explicit Folder(bool withImages = true) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = fs::path(temp) / (L"qdx-window-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++s_count));
        fs::create_directories(m_dir);
        const fs::path exe(g_clientExe);
        fs::copy_file(exe, m_dir / L"qdxclient.exe", fs::copy_options::overwrite_existing);
        if (withImages) {
            for (const wchar_t* image : {L"player.uit", L"font.hzk"}) {
                fs::copy_file(exe.parent_path() / image, m_dir / image,
                              fs::copy_options::overwrite_existing);
            }
        }
        std::string error;
        const auto player = sim::SimPlayer::CreateFactory(0x73, false, {}, &error);
        EXPECT_TRUE(player && player->Save(Player(), &error)) << error;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    fs::path Dir() const { return m_dir; }
    std::string Player() const { return (m_dir / "player.sim").string(); }
    std::wstring Exe() const { return (m_dir / L"qdxclient.exe").wstring(); }

private:
    static inline int s_count = 0;
    fs::path m_dir;
};

// A running qdxclient.exe; ended by force when a test leaves it running.
class Client {
public:
    Client(const std::wstring& exe, const std::wstring& arguments) {
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &m_process) != 0;
    }
    ~Client() {
        if (m_started) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(m_process.hProcess, 99);
                WaitForSingleObject(m_process.hProcess, 10000);
            }
            ::CloseHandle(m_process.hThread);
            ::CloseHandle(m_process.hProcess);
        }
    }
    bool Started() const { return m_started; }
    DWORD Id() const { return m_process.dwProcessId; }
    // The exit code once the process has ended within the time; STILL_ACTIVE otherwise.
    DWORD ExitCode(std::chrono::milliseconds wait) const {
        WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(wait.count()));
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }
    // The main window, once it is there.
    HWND Window(std::chrono::milliseconds timeout = 60000ms) {
        if (m_window == nullptr) {
            WaitUntil([this] { return (m_window = FindDialog(Id(), W(texts::kMainTitle))); },
                      timeout);
        }
        return m_window;
    }
    HWND Item(int id) { return GetDlgItem(Window(), id); }
    std::wstring Status() { return TextOf(Item(kIdStatus)); }
    bool WaitForStatus(const std::wstring& status, std::chrono::milliseconds timeout = 60000ms) {
        return WaitUntil([&] { return Status() == status; }, timeout);
    }
    int BarPosition() { return static_cast<int>(Ask(Item(kIdProgress), PBM_GETPOS)); }
    bool StartEnabled() { return IsWindowEnabled(Item(kIdStart)) != 0; }
    void PressStart() { PostMessageW(Item(kIdStart), BM_CLICK, 0, 0); }
    // The message box the window shows next, or null.
    HWND WaitForMessageBox(std::chrono::milliseconds timeout = 30000ms) {
        HWND box = nullptr;
        WaitUntil([&] { return (box = FindDialog(Id(), L"qdxclient", Window())) != nullptr; },
                  timeout);
        return box;
    }
    // Reads the next message box and presses its OK; empty when none came.
    std::wstring DismissMessage() {
        HWND box = WaitForMessageBox();
        if (box == nullptr) {
            return {};
        }
        const std::wstring text = MessageText(box);
        PressButton(box, IDOK);
        WaitUntil([box] { return !IsWindow(box); });
        return text;
    }
    HWND Focus() {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(Window(), nullptr), &info);
        return info.hwndFocus;
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
    HWND m_window = nullptr;
};

std::wstring SimArguments(const Folder& folder, const std::string& more = {}) {
    return Wide("--simulate \"" + folder.Player() + "\" " + more);
}

// Saves the window as the screen shows it, as a PNG file.
bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool saved = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        // The PNG encoder of GDI+.
        const CLSID png = {
            0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
        {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            saved = picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bitmap);
    return saved;
}

// The whole operator's path: connected, Start (by Enter on the focused button), the job with
// its texts and bar, closing refused meanwhile, the end, the focus back on Start, the player
// saved, and Escape closing the idle window.
TEST(Window, DownloadsOntoTheSimulatedPlayerAsAnOperatorSeesIt) {
    Folder folder;
    Client client(folder.Exe(), SimArguments(folder, "--latency-us 2000"));
    ASSERT_TRUE(client.Started());
    ASSERT_NE(client.Window(), nullptr)
        << "the window did not open; the process's exit code: " << client.ExitCode(0ms);
    EXPECT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    EXPECT_TRUE(client.StartEnabled());
    EXPECT_EQ(TextOf(client.Item(kIdStart)), W(texts::kStart));
    EXPECT_EQ(TextOf(client.Item(kIdDeviceGroup)), W(texts::kDeviceGroup));
    EXPECT_EQ(Ask(client.Item(kIdProgress), PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Ask(client.Item(kIdProgress), PBM_GETRANGE, FALSE), 100);
    ASSERT_TRUE(WaitUntil([&] { return client.Focus() == client.Item(kIdStart); }))
        << "the focus is on " << GetDlgCtrlID(client.Focus()) << ", not on Start";

    // Enter on the focused Start button presses it.
    PostMessageW(client.Item(kIdStart), WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(WaitUntil([&] { return !client.StartEnabled(); }));
    ASSERT_TRUE(WaitUntil([&] { return client.BarPosition() > 0; }));

    // Mid-download (the job takes about 10 s at 2 ms a command, time enough for what follows):
    // the picture for the documentation, when asked for.
    if (const char* picture = std::getenv("QDX_SCREENSHOT"); picture != nullptr) {
        EXPECT_TRUE(WaitUntil([&] {
            return client.BarPosition() >= 35 && client.Status().find(L"UIT") != std::wstring::npos;
        }));
        EXPECT_TRUE(SaveWindowPicture(client.Window(), Wide(picture)));
    }

    // Closing is refused while the job runs, and the operator is told why; so is ending the
    // session.
    PostMessageW(client.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(client.DismissMessage(), W(texts::kCloseRefused));
    EXPECT_TRUE(IsWindow(client.Window()));
    EXPECT_EQ(Ask(client.Window(), WM_QUERYENDSESSION, 0, 0), FALSE);

    ASSERT_TRUE(client.WaitForStatus(W(qdx::texts::kCompleted), 120000ms));
    EXPECT_TRUE(WaitUntil([&] { return client.StartEnabled(); }));
    EXPECT_EQ(client.BarPosition(), 0);  // the job leaves the bar empty
    EXPECT_TRUE(WaitUntil([&] { return client.Focus() == client.Item(kIdStart); }));
    EXPECT_EQ(Ask(client.Window(), WM_QUERYENDSESSION, 0, 0), TRUE);

    // Escape ends the idle window, and the program with it.
    PostMessageW(client.Item(kIdStart), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(client.ExitCode(20000ms), 0u);

    // The player was saved: its font area holds the font image.
    std::string error;
    std::shared_ptr<sim::SimPlayer> saved = sim::SimPlayer::Load(folder.Player(), &error);
    ASSERT_TRUE(saved) << error;
    CFlashEngine reader;
    ASSERT_TRUE(reader.InitFlash(std::make_shared<sim::SimDevice>(saved)));
    std::vector<std::uint8_t> sector(512);
    saved->ReadData(
        static_cast<std::uint32_t>(reader.m_layout[kSlotFont]) * saved->SectorsPerBlock(),
        sector.data());
    std::ifstream font(folder.Dir() / "font.hzk", std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(font)), {});
    ASSERT_GE(image.size(), 1024u);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(),
                           reinterpret_cast<const std::uint8_t*>(image.data()) + 512));
}

TEST(Window, ASecondStartEndsAtOnceWithoutAWindow) {
    Folder folder;
    Client first(folder.Exe(), SimArguments(folder));
    ASSERT_NE(first.Window(), nullptr);
    Client second(folder.Exe(), SimArguments(folder));
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.ExitCode(20000ms), 0u);
    EXPECT_EQ(FindDialog(second.Id(), W(texts::kMainTitle)), nullptr);
    EXPECT_EQ(first.ExitCode(0ms), static_cast<DWORD>(STILL_ACTIVE));
}

TEST(Window, AboutBoxFromTheSystemMenu) {
    Folder folder;
    Client client(folder.Exe(), SimArguments(folder, "--an-argument-it-does-not-know"));
    ASSERT_NE(client.Window(), nullptr) << "an unknown argument kept the window from opening";
    for (WPARAM command : {WPARAM{16}, WPARAM{31}}) {
        PostMessageW(client.Window(), WM_SYSCOMMAND, command, 0);
        HWND about = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            return (about = FindDialog(client.Id(), W(texts::kAboutTitle), client.Window()));
        })) << command;
        // Its version line and its OK button, which ends it.
        bool versionShown = false;
        for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            versionShown = versionShown || TextOf(child) == W(texts::kAboutVersion);
        }
        EXPECT_TRUE(versionShown);
        EXPECT_EQ(TextOf(GetDlgItem(about, IDOK)), W(texts::kOk));
        PressButton(about, IDOK);
        EXPECT_TRUE(WaitUntil([about] { return !IsWindow(about); }));
    }
    // Another system command is not the About box's.
    PostMessageW(client.Window(), WM_SYSCOMMAND, 32, 0);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(FindDialog(client.Id(), W(texts::kAboutTitle)), nullptr);
}

// A job that fails: the engine's messages come one after another from the worker, each waiting
// for the operator, and the status line ends failed.
TEST(Window, AFailingDownloadShowsItsMessagesInTurn) {
    Folder folder;
    // The kernel block's first sector reads damaged after the format (32 sectors a block).
    Client client(folder.Exe(), SimArguments(folder, "--fault corrupt-read=32"));
    ASSERT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    client.PressStart();
    EXPECT_EQ(client.DismissMessage(), W(qdx::texts::kKernelChecksum));
    EXPECT_EQ(client.DismissMessage(), W(qdx::texts::kInitFailed));
    EXPECT_TRUE(client.WaitForStatus(W(qdx::texts::kFailed)));
    EXPECT_TRUE(WaitUntil([&] { return client.StartEnabled(); }));
}

// Training: the simulated player pulled out in the middle of a job ends it failed; plugged in
// again, the next download completes.
TEST(Window, UnplugAndPlugInTheSimulatedPlayer) {
    Folder folder;
    Client client(folder.Exe(), SimArguments(folder, "--latency-us 1000"));
    ASSERT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    client.PressStart();
    ASSERT_TRUE(WaitUntil([&] { return client.BarPosition() >= 10; }));
    PressButton(client.Window(), IDM_SIM_UNPLUG);
    // The job loses the player: a message, then the status line says failed.
    EXPECT_FALSE(client.DismissMessage().empty());
    EXPECT_TRUE(client.WaitForStatus(W(qdx::texts::kFailed)));
    EXPECT_FALSE(client.StartEnabled());

    PressButton(client.Window(), IDM_SIM_PLUG_IN);
    EXPECT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    EXPECT_TRUE(WaitUntil([&] { return client.StartEnabled(); }));
    client.PressStart();
    EXPECT_TRUE(client.WaitForStatus(W(qdx::texts::kCompleted), 120000ms));
}

TEST(Window, AMissingImageIsNamedAndStartStaysEnabled) {
    // Without the UIT file beside the program: its message, no icon, Start stays enabled.
    Folder folder(false);
    Client client(folder.Exe(), SimArguments(folder));
    ASSERT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    client.PressStart();
    EXPECT_EQ(client.DismissMessage(), W(qdx::texts::kUitMissing));
    EXPECT_TRUE(client.StartEnabled());
    EXPECT_EQ(client.Status(), W(texts::kConnected));
}

// A removable drive of the system's (the test's prefix maps one, named by QDX_REMOVABLE_DRIVE):
// the start-up scan takes it for the player, the placeholder firmware is refused for it before
// anything is opened, and its removal and arrival come as the system broadcasts them.
TEST(Window, ARemovableDriveIsTrackedAndThePlaceholderRefused) {
    const char* drive = std::getenv("QDX_REMOVABLE_DRIVE");
    if (drive == nullptr || GetDriveTypeW((Wide(drive) + L":\\").c_str()) != DRIVE_REMOVABLE) {
        GTEST_SKIP() << "no removable drive named by QDX_REMOVABLE_DRIVE";
    }
    Folder folder;
    Client client(folder.Exe(), L"");
    ASSERT_NE(client.Window(), nullptr);
    ASSERT_TRUE(client.WaitForStatus(W(texts::kConnected)));
    EXPECT_TRUE(client.StartEnabled());
    client.PressStart();
    EXPECT_EQ(client.DismissMessage(), W(qdx::texts::kPlaceholderRefused));
    EXPECT_TRUE(client.StartEnabled());
    EXPECT_EQ(client.Status(), W(texts::kConnected));

    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (drive[0] - 'A');
    // Another drive's removal changes nothing; the player's leaves the window not connected.
    DEV_BROADCAST_VOLUME other = volume;
    other.dbcv_unitmask = 1u << ('Y' - 'A');
    Ask(client.Window(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
        reinterpret_cast<LPARAM>(&other));
    EXPECT_EQ(client.Status(), W(texts::kConnected));
    Ask(client.Window(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
        reinterpret_cast<LPARAM>(&volume));
    EXPECT_TRUE(client.WaitForStatus(W(texts::kNotConnected), 5000ms));
    EXPECT_FALSE(client.StartEnabled());
    EXPECT_FALSE(IsWindowEnabled(client.Item(kIdStatus)));
    Ask(client.Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    EXPECT_TRUE(client.WaitForStatus(W(texts::kConnected), 5000ms));
    EXPECT_TRUE(client.StartEnabled());

    // Gone again, with the focus nowhere: Enter is the dialog's OK, which ends the idle window.
    Ask(client.Window(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
        reinterpret_cast<LPARAM>(&volume));
    ASSERT_TRUE(client.WaitForStatus(W(texts::kNotConnected), 5000ms));
    PostMessageW(client.Window(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(client.ExitCode(20000ms), 0u);
}

}  // namespace
}  // namespace qdx::app

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: win32_window_tests QDXCLIENT_EXE [gtest options]\n");
        return 2;
    }
    qdx::app::g_clientExe = qdx::app::Wide(argv[1]);
    return RUN_ALL_TESTS();
}
