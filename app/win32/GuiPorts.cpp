#include "app/win32/GuiPorts.h"

#include <commctrl.h>

#include <memory>
#include <vector>

#include "app/DialogTemplates.h"
#include "app/win32/WideText.h"

namespace qdx::app {

void GuiCaller::Attach(HWND dialog) {
    m_dialog = dialog;
    m_threadId = GetWindowThreadProcessId(dialog, nullptr);
}

bool GuiCaller::Call(const std::function<void()>& function) {
    if (GetCurrentThreadId() == m_threadId) {
        function();
        return true;
    }
    if (m_detached.load()) {
        return false;
    }
    // A window that is gone answers at once with 0; the request then was not carried out.
    return SendMessageW(m_dialog, kWmGuiCall, 0, reinterpret_cast<LPARAM>(&function)) != 0;
}

void GuiCaller::Carry(LPARAM request) {
    (*reinterpret_cast<const std::function<void()>*>(request))();
}

namespace {

constexpr UINT kWmPosted = WM_APP + 2;
constexpr wchar_t kPosterClass[] = L"qdxclient deferred calls";

}  // namespace

MessageLoopPoster::MessageLoopPoster() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kPosterClass;
    RegisterClassW(&windowClass);  // fails harmlessly when registered already
    m_window = CreateWindowExW(0, kPosterClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
}

MessageLoopPoster::~MessageLoopPoster() {
    if (m_window == nullptr) {
        return;
    }
    // Calls still waiting are dropped, and their functions freed.
    MSG message;
    while (PeekMessageW(&message, m_window, kWmPosted, kWmPosted, PM_REMOVE)) {
        delete reinterpret_cast<std::function<void()>*>(message.lParam);
    }
    DestroyWindow(m_window);
}

void MessageLoopPoster::Post(std::function<void()> function) {
    auto* posted = new std::function<void()>(std::move(function));
    if (m_window == nullptr ||
        !PostMessageW(m_window, kWmPosted, 0, reinterpret_cast<LPARAM>(posted))) {
        delete posted;
    }
}

LRESULT CALLBACK MessageLoopPoster::WindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message != kWmPosted) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    std::unique_ptr<std::function<void()>> posted(reinterpret_cast<std::function<void()>*>(lParam));
    (*posted)();
    return 0;
}

std::wstring AppName() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return L"qdxclient";
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            const std::size_t slash = path.find_last_of(L"\\/");
            std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
            const std::size_t dot = name.find_last_of(L'.');
            return dot == std::wstring::npos ? name : name.substr(0, dot);
        }
        buffer.resize(buffer.size() * 2);
    }
}

void ShowAppMessage(HWND owner, bool warningIcon, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), AppName().c_str(), MB_OK | (warningIcon ? MB_ICONWARNING : 0));
}

void StartButtonPort::SetEnabled(bool enabled) {
    m_gui.Call([this, enabled] { EnableWindow(m_button, enabled ? TRUE : FALSE); });
}

bool StatusTextPort::SetText(const std::string& text) {
    bool exists = false;
    m_gui.Call([this, &text, &exists] {
        exists = IsWindow(m_label) && SetWindowTextW(m_label, Wide(text).c_str());
    });
    return exists;
}

bool ProgressBarPort::SetPosition(int /*position*/, int percent) {
    bool exists = false;
    m_gui.Call([this, percent, &exists] {
        exists = IsWindow(m_bar);
        SendMessageW(m_bar, PBM_SETPOS, static_cast<WPARAM>(ProgressShown(percent)), 0);
    });
    return exists;
}

void AppMessageBox::Show(const std::string& text) {
    m_gui.Call([this, &text] { ShowAppMessage(m_owner, true, Wide(text)); });
}

}  // namespace qdx::app
