// The download job: format, renewed identification, then each image and its backup copy.
#include <algorithm>
#include <array>
#include <thread>

#include "engine/CFlashEngine.h"

namespace qdx {

namespace {

// Ends the job's hold on the player at every ending, also when the worker is ended from inside
// the image writer: the device is closed and the job's images are released.
class JobScope {
public:
    JobScope(CFlashEngine& engine, bool& inJob,
             std::array<std::shared_ptr<const ImageData>, 4>& images, std::vector<int>& claims)
        : m_engine(engine), m_inJob(inJob), m_images(images), m_claims(claims) {
        m_inJob = true;
    }
    ~JobScope() {
        m_inJob = false;
        m_images.fill(nullptr);
        m_claims.clear();
        m_engine.CloseDevice();
    }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

private:
    CFlashEngine& m_engine;
    bool& m_inJob;
    std::array<std::shared_ptr<const ImageData>, 4>& m_images;
    std::vector<int>& m_claims;
};

}  // namespace

void CFlashEngine::EndJob(const char* status) {
    // The ending's own positions: 100 is a full bar, 0 an empty one.
    m_progressTotal.store(100);
    m_pSink->SetProgress(100);
    std::this_thread::sleep_for(m_endingPause);
    m_pSink->SetStatus(status);
    m_pSink->SetProgress(0);
}

std::int32_t CFlashEngine::RunJob() {
    m_progress = 0;
    if (m_pSink == nullptr) {
        return 0;
    }
    JobScope scope(*this, m_inJob, m_jobImages, m_claims);
    // Each failure records its own ending; a job that meets none completes.
    m_ending = JobEnding::Completed;
    m_progressTotal.store(100);
    m_copySerial = 0;
    m_claims.assign(TotalBlocks(), 0);

    // Every image is read and judged before the first command that changes the flash.
    if (!PrepareJobImages()) {
        return 0;
    }

    if (m_format) {
        m_pSink->SetStatus(texts::kFormatting);
        if (!FormatFlash()) {
            m_ending = JobEnding::FormatFailed;
            EndJob(texts::kFailed);
            m_pSink->ExitWorker();
            return 0;
        }
    }
    m_format = 0;

    if (!InitFlash(m_hDevice)) {
        m_ending = JobEnding::InitFailed;
        ShowMessage(texts::kInitFailed);
        EndJob(texts::kFailed);
        m_pSink->OnDone();
        return 0;
    }
    if (!CheckAreasApart()) {
        return 0;
    }

    // A backup copy may use only the good blocks planned for its area, so that it never runs into
    // the area below it.
    const std::int32_t uitBackupBlocks = AreaBlocks(kUitBackupAreaSectors, m_blockShift);
    const std::int32_t imPmBackupBlocks = AreaBlocks(kImPmBackupAreaSectors, m_blockShift);

    if (m_contentMask & kContentImPm) {
        m_pSink->SetStatus(texts::kSendImPm);
        WriteImage(m_layout[kSlotImPm], 0, m_paths[1], m_verify, 0);
        if (m_backup) {
            m_pSink->SetStatus(texts::kBackupImPm);
            WriteImage(m_layout[kSlotImPmBackup], 0, m_paths[1], m_verify, 1, imPmBackupBlocks);
        }
    }
    if (m_contentMask & kContentUit) {
        const std::int32_t uitSectors = m_uitOffset * kUitOffsetUnitSectors;
        const std::int32_t q = uitSectors / m_sectorsPerBlock;
        const std::int32_t r = uitSectors % m_sectorsPerBlock;
        m_pSink->SetStatus(texts::kSendUit);
        WriteImage(m_layout[m_blocksK] + q, r, m_paths[2], m_verify, 0);
        if (m_backup) {
            const std::int32_t skipped = m_uitOffset > 0 ? uitSectors >> m_blockShift : 0;
            m_pSink->SetStatus(texts::kBackupUit);
            WriteImage(m_layout[kSlotUitBackup], r, m_paths[2], m_verify, 1,
                       std::max(uitBackupBlocks - skipped, 1));
        }
    }
    if (m_contentMask & kContentFont) {
        m_pSink->SetStatus(texts::kSendFont);
        WriteImage(m_layout[kSlotFont], 0, m_paths[3], m_verify, 0);
        if (m_backup) {
            m_pSink->SetStatus(texts::kBackupFont);
            WriteImage(m_layout[kSlotFontBackup], 0, m_paths[3], m_verify, 1);
        }
    }

    EndJob(texts::kCompleted);
    m_pSink->OnDone();
    return 1;
}

}  // namespace qdx
