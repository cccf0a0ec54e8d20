// The worker's controls and the application's message box, carried out on the GUI thread: a
// worker's request is a message sent to the dialog, which the sending thread waits for.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "engine/Ports.h"

namespace qdx::app {

// The private message that carries a request: lParam points to a std::function<void()>.
inline constexpr UINT kWmGuiCall = WM_APP + 1;

// Runs a function on the dialog's thread: directly when already there, otherwise by sending
// kWmGuiCall to the dialog and waiting until it has been carried out.
class GuiCaller {
public:
    void Attach(HWND dialog);
    // False when the call was not made because the window is going away.
    bool Call(const std::function<void()>& function);
    // From now on, requests from other threads are dropped, so a worker never waits for a
    // window that is being destroyed.
    void Detach() { m_detached.store(true); }
    // The dialog's handler of kWmGuiCall.
    static void Carry(LPARAM request);

private:
    HWND m_dialog = nullptr;
    DWORD m_threadId = 0;
    std::atomic<bool> m_detached{false};
};

// Runs functions later on the GUI thread, from whatever message loop runs there (a modal
// dialog's included): each is posted to a message-only window of its own.
class MessageLoopPoster {
public:
    MessageLoopPoster();
    ~MessageLoopPoster();
    MessageLoopPoster(const MessageLoopPoster&) = delete;
    MessageLoopPoster& operator=(const MessageLoopPoster&) = delete;
    void Post(std::function<void()> function);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
};

// The caption of every message box: the program's file name without its extension.
std::wstring AppName();
// A modal message box with an OK button, owned by owner.
void ShowAppMessage(HWND owner, bool warningIcon, const std::wstring& text);

class StartButtonPort : public IButtonControl {
public:
    StartButtonPort(GuiCaller& gui, HWND button) : m_gui(gui), m_button(button) {}
    void SetEnabled(bool enabled) override;

private:
    GuiCaller& m_gui;
    HWND m_button;
};

class StatusTextPort : public ITextControl {
public:
    StatusTextPort(GuiCaller& gui, HWND label) : m_gui(gui), m_label(label) {}
    bool SetText(const std::string& text) override;

private:
    GuiCaller& m_gui;
    HWND m_label;
};

// The bar shows the job's share, PBM_SETPOS within the range 0..100.
class ProgressBarPort : public IProgressControl {
public:
    ProgressBarPort(GuiCaller& gui, HWND bar) : m_gui(gui), m_bar(bar) {}
    bool SetPosition(int position, int percent) override;

private:
    GuiCaller& m_gui;
    HWND m_bar;
};

// The application's message box: warning icon, the application's name as caption.
class AppMessageBox : public IMessageBox {
public:
    AppMessageBox(GuiCaller& gui, HWND owner) : m_gui(gui), m_owner(owner) {}
    void Show(const std::string& text) override;

private:
    GuiCaller& m_gui;
    HWND m_owner;
};

}  // namespace qdx::app
