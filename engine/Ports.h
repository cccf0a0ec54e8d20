// The small interfaces through which the engine and the worker reach the front end.
#pragma once

#include <string>

namespace qdx {

// The application's message box: shows a text with an OK button and returns once it is
// dismissed. Called from a worker thread it holds that thread until then.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual void Show(const std::string& text) = 0;
    // The same for a message about one file: where there is room, a front end also names the
    // file and says why (the text itself stays the operator's message).
    virtual void ShowForFile(const std::string& text, const std::string& file,
                             const std::string& reason) {
        (void)file;
        (void)reason;
        Show(text);
    }
};

// The Start button.
class IButtonControl {
public:
    virtual ~IButtonControl() = default;
    virtual void SetEnabled(bool enabled) = 0;
};

// The status line. Returns false when the control does not exist (any more).
class ITextControl {
public:
    virtual ~ITextControl() = default;
    virtual bool SetText(const std::string& text) = 0;
};

// The progress bar, range 0..100. position is the engine's own count, passed on unchanged (it
// passes 100 on most jobs); percent is the job's true share, 0..100, which the bar shows. Returns
// false when the control does not exist.
class IProgressControl {
public:
    virtual ~IProgressControl() = default;
    virtual bool SetPosition(int position, int percent) = 0;
};

// The share of the job a position stands for, 0..100, when the job's positions end at total.
constexpr int ProgressPercent(long long position, long long total) {
    if (total <= 0 || position <= 0) {
        return 0;
    }
    return position >= total ? 100 : static_cast<int>(position * 100 / total);
}

}  // namespace qdx
