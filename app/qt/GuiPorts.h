// The worker's controls and the application's message box, carried out on the GUI thread.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>

#include "engine/Ports.h"

namespace qdx::app {

// Runs a function on the context object's thread: directly when already there, otherwise as a
// synchronous request that the calling thread waits for.
class GuiCaller {
public:
    explicit GuiCaller(QObject* context) : m_context(context) {}
    // False when the call was not made because the window is going away.
    bool Call(const std::function<void()>& function);
    // From now on, requests from other threads are dropped, so a worker never waits for a
    // window that is being destroyed.
    void Detach() { m_detached.store(true); }

private:
    QObject* m_context;
    std::atomic<bool> m_detached{false};
};

// Runs a function later on the GUI thread, from the event loop.
void PostToEventLoop(std::function<void()> function);

struct MessageRequest {
    bool warningIcon = false;
    QString caption;
    QString text;
};

// Shows a modal message box with an OK button, owned by parent, and returns once it is closed.
using MessagePresenter = std::function<void(QWidget* parent, const MessageRequest&)>;
MessagePresenter ModalMessagePresenter();

class StartButtonPort : public IButtonControl {
public:
    StartButtonPort(GuiCaller& gui, QPushButton* button) : m_gui(gui), m_button(button) {}
    void SetEnabled(bool enabled) override;

private:
    GuiCaller& m_gui;
    QPointer<QPushButton> m_button;
};

class StatusTextPort : public ITextControl {
public:
    // shown is told every text set, on the GUI thread.
    StatusTextPort(GuiCaller& gui, QLabel* label, std::function<void(const QString&)> shown)
        : m_gui(gui), m_label(label), m_shown(std::move(shown)) {}
    bool SetText(const std::string& text) override;

private:
    GuiCaller& m_gui;
    QPointer<QLabel> m_label;
    std::function<void(const QString&)> m_shown;
};

class ProgressBarPort : public IProgressControl {
public:
    ProgressBarPort(GuiCaller& gui, QProgressBar* bar) : m_gui(gui), m_bar(bar) {}
    bool SetPosition(int position, int percent) override;

private:
    GuiCaller& m_gui;
    QPointer<QProgressBar> m_bar;
};

// The application's message box: warning icon, the application's name as caption.
class AppMessageBox : public IMessageBox {
public:
    AppMessageBox(GuiCaller& gui, QWidget* owner, MessagePresenter present)
        : m_gui(gui), m_owner(owner), m_present(std::move(present)) {}
    void Show(const std::string& text) override;

private:
    GuiCaller& m_gui;
    QPointer<QWidget> m_owner;
    MessagePresenter m_present;
};

}  // namespace qdx::app
