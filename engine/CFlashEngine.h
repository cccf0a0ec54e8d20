// The per-player engine: identification, bad blocks, the kernel block, backup planning, the image
// writer and the download job. Every flash access is one vendor command on m_hDevice.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/IProgressSink.h"
#include "engine/ImageFile.h"
#include "engine/JobEnding.h"
#include "engine/JobSettings.h"
#include "engine/Ports.h"
#include "engine/Texts.h"
#include "engine/facts/ChipTable.h"
#include "engine/facts/FlashLayout.h"
#include "engine/facts/ImageFormat.h"
#include "transport/Device.h"

namespace qdx {

// Bits of m_contentMask.
inline constexpr std::uint8_t kContentImPm = 1;
inline constexpr std::uint8_t kContentUit = 2;
inline constexpr std::uint8_t kContentFont = 4;

class CFlashEngine {
public:
    explicit CFlashEngine(IMessageBox* messageBox = nullptr);
    virtual ~CFlashEngine();  // releases nothing: the device stays open

    // --- Vendor commands: each sends one request and returns nonzero when it was delivered.
    std::int32_t ReadId(std::uint32_t chip, std::uint8_t* reply2);
    std::int32_t ReadSector(std::uint32_t sector, std::uint8_t* data512);
    std::int32_t ReadSpare(std::uint32_t sector, std::uint8_t* spare16);
    std::int32_t WriteSector(std::uint32_t sector, const std::uint8_t* data512);
    std::int32_t EraseBlock(std::uint32_t sector);
    std::int32_t SetWriteTag(std::uint32_t value);
    // Reports progress 1 (when a sink is bound), then formats; 1 on success, 0 otherwise.
    std::int32_t FormatFlash();

    // --- Identification and layout.
    // Identifies the chip (and a second identical one); unless m_format is set, also locates and
    // checks the kernel block and loads the LayoutTable. 1 on success, 0 after a message box.
    std::int32_t InitFlash(DeviceHandle device);
    // Moves sector up a block at a time until it stands on a good block or at/past the end.
    // Returns the last spare read's result, 0 when called at or past the end.
    std::int32_t FindGoodBlockForward(std::uint32_t& sector);
    // Moves sector down a block at a time until it stands on a good block or below block 0.
    std::int32_t FindGoodBlockBackward(std::int32_t& sector);
    // Every bad block of the flash, ascending, as the forward skip sees them (spare reads only).
    std::vector<std::uint32_t> ListBadBlocks();
    // 0 when the kernel block's checksum holds, 1 when it does not.
    std::int32_t CheckKernelBlock(std::uint32_t firstSector);
    // Fills LayoutTable slots 91..94 with the start blocks of the backup areas. Always 1.
    std::int32_t PlanBackupAreas();

    // --- The image writer.
    // Writes one image (a file, or the built-in image for "bin") from startBlock/sectorOffset,
    // forward or backward over good blocks, optionally verified. maxBlocks, when positive, is the
    // number of good blocks the copy may use. 1 when written; 0 on failure (with a sink bound,
    // failures end the worker and do not return).
    std::int32_t WriteImage(std::int32_t startBlock, std::int32_t sectorOffset,
                            const std::string& path, int verify, int backward,
                            std::int32_t maxBlocks = 0);
    void SplitSegments(std::int32_t sectorOffset, std::int32_t payloadBytes);
    // Rewrites the block of [first, end) so that its other sectors survive the erase. Returns
    // false, before erasing anything, when a sector to keep could not be read.
    bool PreserveBlockRemainder(std::uint32_t first, std::uint32_t end, int mode);

    // --- The download job: format, renewed identification, the three images with backups.
    // 1 after the completed ending, 0 after a failure ending or with no sink bound. The device
    // is closed at every ending.
    std::int32_t RunJob();
    // How the last job ended; read it once the worker has ended.
    JobEnding LastEnding() const { return m_ending; }
    // The position at which the running job's progress is complete: known once its images are
    // checked (4 per forward and 2 per backward segment, 2 per verify; the format reports 1 on
    // its own before the count starts), and 100 before that and at the job's ending, where the
    // engine reports 100 and 0. Safe from any thread.
    std::int32_t ProgressTotal() const { return m_progressTotal.load(); }
    // Asks a running job to end at its next command; the job then ends as interrupted. Safe from
    // any thread.
    void RequestStop() { m_stopRequested.store(true); }

    // Closes the device and forgets it: the one place the player's handle is released.
    void CloseDevice();

    // --- Front-end wiring.
    void SetMessageBox(IMessageBox* messageBox) { m_pMessageBox = messageBox; }
    void SetBuiltinImage(std::span<const std::uint8_t> image) { m_builtinImage = image; }
    // Images already read and judged, by path, for the jobs of this engine to take instead of
    // reading the files again: several players downloaded at once then write the same bytes.
    void ShareImages(std::vector<std::pair<std::string, std::shared_ptr<const ImageData>>> images) {
        m_sharedImages = std::move(images);
    }
    // How long the bar stays at 100 at the end of a job.
    void SetEndingPause(std::chrono::milliseconds pause) { m_endingPause = pause; }

    // Derived geometry.
    std::uint32_t TotalBlocks() const {
        return static_cast<std::uint32_t>(m_blocksK) * kBlocksPerK;
    }
    std::uint32_t TotalSectors() const {
        return TotalBlocks() * static_cast<std::uint32_t>(m_sectorsPerBlock);
    }
    ChipGeometry Geometry() const;
    std::uint8_t DeviceCode() const { return m_deviceCode; }
    bool TwoChips() const { return m_twoChips; }
    // First sector of the kernel block found by the last full InitFlash.
    std::uint32_t KernelBlockSector() const { return m_kernelSector; }

    // --- State (field order as the record keeps it).
    IProgressSink* m_pSink = nullptr;
    std::int32_t m_uitOffset = 0;
    std::array<std::string, 4> m_paths{};  // 1 IM/PM, 2 UIT, 3 font; no length limit
    std::uint8_t m_contentMask = 0;
    DeviceHandle m_hDevice;
    std::int32_t m_largePage = 0;
    std::int32_t m_blocksK = 0;
    std::int32_t m_rowAddrBytes = 0;
    std::int32_t m_sectorsPerPage = 0;
    std::int32_t m_blockShift = 0;
    std::int32_t m_sectorsPerBlock = 0;
    std::int32_t m_capacityMB = 0;
    std::array<std::int32_t, kLayoutSlots> m_layout{};
    std::uint8_t m_backup = 0;
    std::uint8_t m_verify = 0;
    std::uint8_t m_format = 0;
    std::int32_t m_progress = 0;
    std::array<std::int32_t, kMaxSegments> m_segLen{};
    std::array<std::int32_t, kMaxSegments> m_segStart{};
    std::array<std::int32_t, kMaxSegments> m_segEnd{};
    std::int32_t m_segCount = 0;

private:
    std::int32_t Send(const CommandDescription& command);
    void ShowMessage(const std::string& text);
    bool IsGoodBlock(std::uint32_t sector, std::uint8_t* spare, std::int32_t* result);
    // Locates the kernel block, checks it and loads the LayoutTable from it.
    bool LoadKernelBlock();
    // Before the flash is touched: reads and judges every image the job writes, checks that
    // each copy fits where it goes on this chip and plan, and sets the progress total. False
    // after the writer's failure (message, failed status, bar at 0, end of the worker).
    bool PrepareJobImages();
    // After the format: the LayoutTable's primary areas must lie below every backup copy.
    bool CheckAreasApart();
    // Refuses a segment that would land in a block another copy of this job has taken.
    bool ClaimBlock(std::uint32_t sector, int copy);

    // An image read and judged: one shared with the engine, the built-in one for "bin", or the
    // file. Null after the writer's failure when memory ran out.
    std::shared_ptr<const ImageData> ReadImage(const std::string& path);
    // The writer's three steps.
    bool LoadForWrite(const std::string& path, std::shared_ptr<const ImageData>& image);
    bool PlaceAndWrite(const ImageData& image, std::uint32_t startSector, bool backward, int copy);
    bool VerifyCopy(const ImageData& image, std::uint32_t startSector, bool backward);
    // Moves cur to the block of the next segment of a copy in that direction.
    void MoveToNextSegment(std::uint32_t& cur, bool backward);
    // True while a copy's walk in that direction stands inside the flash.
    bool InsideFlash(std::uint32_t cur, bool backward) const;
    // Message box, failed status, bar to 0, end of the worker. Returns 0 for callers with no
    // worker to end.
    std::int32_t FailWrite(const char* message);
    // The same for a fault of one image file, whose path and reason a front end may show.
    std::int32_t FailImage(const char* message, const std::string& path, const std::string& reason);
    void EndJob(const char* status);

    IMessageBox* m_pMessageBox = nullptr;
    std::span<const std::uint8_t> m_builtinImage;
    std::chrono::milliseconds m_endingPause{300};
    std::uint8_t m_deviceCode = 0;
    bool m_twoChips = false;
    std::uint32_t m_kernelSector = 0;
    JobEnding m_ending = JobEnding::LaunchFailed;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<std::int32_t> m_progressTotal{100};
    bool m_inJob = false;  // a job runs on this engine (worker side)
    // The images of the running job by path slot, read and checked once before the flash is
    // touched, so that every copy writes the bytes that were checked.
    std::array<std::shared_ptr<const ImageData>, 4> m_jobImages{};
    std::vector<std::pair<std::string, std::shared_ptr<const ImageData>>> m_sharedImages;
    // Which copy of the running job took each block (0: none). Copies are numbered from 2 in
    // the order they are written; a backup copy's number is odd.
    std::vector<int> m_claims;
    int m_copySerial = 0;
};

}  // namespace qdx
