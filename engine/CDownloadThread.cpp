#include "engine/CDownloadThread.h"

namespace qdx {

CDownloadThread::~CDownloadThread() {
    JoinBeforeDestruction();
}

void CDownloadThread::SetControls(IButtonControl* startButton, ITextControl* statusText,
                                  IProgressControl* progressBar) {
    m_pStartButton = startButton;
    m_pStatusText = statusText;
    m_pProgressBar = progressBar;
}

void CDownloadThread::BindEngine(CFlashEngine* engine) {
    if (m_pEngine != nullptr) {
        m_pEngine->m_pSink = nullptr;
    }
    m_pEngine = engine;
    if (m_pEngine != nullptr) {
        m_pEngine->m_pSink = this;
    }
}

std::optional<JobEnding> CDownloadThread::Ending() const {
    if (!HasThread() || IsRunning() || m_ranEngine == nullptr) {
        return std::nullopt;
    }
    return m_ranEngine->LastEnding();
}

void CDownloadThread::Run() {
    m_ranEngine = m_pEngine;
    if (m_pEngine != nullptr) {
        m_pEngine->RunJob();
    }
}

void CDownloadThread::OnDone() {
    if (m_pStartButton != nullptr) {
        m_pStartButton->SetEnabled(true);
    }
}

void CDownloadThread::SetStatus(const std::string& text) {
    if (m_pStatusText != nullptr) {
        m_pStatusText->SetText(text);
    }
}

void CDownloadThread::SetProgress(std::int32_t position) {
    if (m_pProgressBar != nullptr) {
        const std::int32_t total = m_pEngine != nullptr ? m_pEngine->ProgressTotal() : 100;
        m_pProgressBar->SetPosition(position, ProgressPercent(position, total));
    }
}

void CDownloadThread::ExitWorker() {
    Exit();
}

}  // namespace qdx
