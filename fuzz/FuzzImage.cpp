// Image checking and the image writer over arbitrary image bytes: the checker's verdict and the
// writer's must agree, and neither may read or write outside its buffers.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "engine/CFlashEngine.h"
#include "engine/ImageFile.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace {

struct Fixture {
    Fixture() {
        std::string error;
        player = qdx::sim::SimPlayer::CreateFactory(0x73, false, {3, 1000}, &error);
        if (!player || !engine.InitFlash(std::make_shared<qdx::sim::SimDevice>(player))) {
            std::abort();
        }
        engine.PlanBackupAreas();
    }
    std::shared_ptr<qdx::sim::SimPlayer> player;
    qdx::CFlashEngine engine;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    const std::span<const std::uint8_t> image(data, size);
    const qdx::ImageCheck check = qdx::CheckImage(image);

    // The writer reads the image from the built-in span: no file per input. With no sink bound
    // a refusal returns 0 instead of ending a worker.
    qdx::CFlashEngine& engine = fixture.engine;
    engine.SetBuiltinImage(image);
    const bool backward = size > 20 && (data[20] & 1);
    const std::int32_t start =
        backward ? engine.m_layout[qdx::kSlotImPmBackup] : engine.m_layout[qdx::kSlotImPm];
    const std::int32_t written =
        engine.WriteImage(start, 0, qdx::kBuiltinImagePath, 1, backward ? 1 : 0, backward ? 40 : 0);
    // The writer takes exactly the images the checker calls valid (both read at most 5 MiB and
    // fit 100 segments of the small-page chip used here).
    if (check.valid && check.segmentsSmallPage <= 40 && written != 1) {
        std::abort();
    }
    if (!check.valid && written != 0) {
        std::abort();
    }
    return 0;
}
