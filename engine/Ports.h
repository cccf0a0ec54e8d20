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

// The progress bar, range 0..100. Returns false when the control does not exist.
class IProgressControl {
public:
    virtual ~IProgressControl() = default;
    virtual bool SetPosition(int position) = 0;
};

}  // namespace qdx
