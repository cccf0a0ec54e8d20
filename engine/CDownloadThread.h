// The worker that runs one engine's download job and reports to the window's controls.
#pragma once

#include <optional>

#include "engine/CFlashEngine.h"
#include "engine/CWorkerThread.h"
#include "engine/IProgressSink.h"
#include "engine/JobEnding.h"
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
    // How the last job ended, once its worker has ended: the ending the engine recorded, or
    // nullopt when no worker has run. The exit code tells the rest (0, or 259 after Exit()).
    std::optional<JobEnding> Ending() const;

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
    CFlashEngine* m_ranEngine = nullptr;  // the engine whose job the last worker ran
};

}  // namespace qdx
