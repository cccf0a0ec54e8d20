// The worker that runs one engine's download job and reports to the window's controls.
#pragma once

#include "engine/CFlashEngine.h"
#include "engine/CWorkerThread.h"
#include "engine/IProgressSink.h"
#include "engine/Ports.h"

namespace qdx {

class CDownloadThread : public CWorkerThread, public IProgressSink {
public:
    CDownloadThread() = default;
    ~CDownloadThread() override;

    // The three controls the sink operations act on; none is owned.
    void SetControls(IButtonControl* startButton, ITextControl* statusText,
                     IProgressControl* progressBar);
    // Unbinds the previous engine's sink, binds this object as the new engine's sink.
    void BindEngine(CFlashEngine* engine);
    CFlashEngine* Engine() const { return m_pEngine; }

    void OnDone() override;
    void SetStatus(const std::string& text) override;
    void SetProgress(std::int32_t position) override;
    void ExitWorker() override;

protected:
    void Run() override;

private:
    IButtonControl* m_pStartButton = nullptr;
    ITextControl* m_pStatusText = nullptr;
    IProgressControl* m_pProgressBar = nullptr;
    CFlashEngine* m_pEngine = nullptr;
};

}  // namespace qdx
