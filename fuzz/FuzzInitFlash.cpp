// Identification, the kernel block, backup planning and a write over arbitrary flash contents: a
// device whose every reply comes from the input. Every walk must end, and nothing may touch memory
// outside the engine's tables.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/CFlashEngine.h"
#include "transport/Device.h"

namespace {

// Input layout: byte 0 picks the chip, byte 1 the second chip's answer and flags, bytes 2..3 a
// command number from which commands fail, then a pattern that spare and sector bytes repeat.
class InputFlash : public qdx::IDevice {
public:
    InputFlash(const std::uint8_t* data, std::size_t size) : m_data(data, data + size) {}

    bool Send(const qdx::CommandDescription& command) override {
        ++m_count;
        if (m_count > 2000000) {
            __builtin_trap();  // a walk that never ends
        }
        if (m_failFrom != 0 && m_count >= m_failFrom) {
            return false;
        }
        auto* buffer = static_cast<std::uint8_t*>(command.buffer);
        const std::uint32_t sector = command.Argument();
        switch (command.Sub()) {
            case qdx::SubCommand::ReadId:
                buffer[0] = command.cdb[2] == 0 ? ChipCode() : Byte(1);
                buffer[1] = 0;
                return true;
            case qdx::SubCommand::ReadSpare:
                for (std::uint32_t i = 0; i < qdx::kSpareBytes; ++i) {
                    // Mostly good blocks, with the input's pattern deciding the rest.
                    const std::uint8_t b = Pattern(sector * 7 + i);
                    buffer[i] = (b & 0xC0) == 0xC0 ? b : 0xFF;
                }
                return true;
            case qdx::SubCommand::ReadSector:
                SectorBytes(sector, buffer);
                return true;
            default:
                return true;
        }
    }
    qdx::TransportStatus LastStatus() const override { return {}; }
    void Close() override {}

    void SetFailFrom(std::uint64_t from) { m_failFrom = from; }

private:
    std::uint8_t Byte(std::size_t i) const { return i < m_data.size() ? m_data[i] : 0; }
    std::uint8_t ChipCode() const {
        static const std::uint8_t codes[] = {0x73, 0x75, 0x76, 0x79, 0xF1, 0xDA, 0xDC, 0xD3, 0x00};
        return codes[Byte(0) % sizeof codes];
    }
    std::uint8_t Pattern(std::uint64_t at) const {
        return m_data.size() <= 4 ? 0xFF : m_data[4 + at % (m_data.size() - 4)];
    }
    // With flag bit 1 set the fourth-after sector of a block carries the checksum of the others,
    // so the kernel block is accepted and the layout tables come from the input.
    void SectorBytes(std::uint32_t sector, std::uint8_t* out) const {
        for (std::uint32_t i = 0; i < qdx::kSectorBytes; ++i) {
            out[i] = Pattern(static_cast<std::uint64_t>(sector) * 13 + i);
        }
        if ((Byte(1) & 0x02) && sector % 32 == 4) {
            std::uint32_t sum = 0;
            std::uint8_t other[qdx::kSectorBytes];
            for (std::uint32_t k : {0u, 1u, 2u, 3u, 5u, 6u}) {
                for (std::uint32_t i = 0; i < qdx::kSectorBytes; ++i) {
                    other[i] = Pattern(static_cast<std::uint64_t>(sector - 4 + k) * 13 + i);
                }
                for (std::uint8_t b : other) {
                    sum += b;
                }
            }
            qdx::PutBigEndian32(out, sum);
        }
    }

    std::vector<std::uint8_t> m_data;
    std::uint64_t m_count = 0;
    std::uint64_t m_failFrom = 0;
};

std::vector<std::uint8_t> SmallImage() {
    std::vector<std::uint8_t> image(512 + 40 * 512, 0);
    std::memcpy(image.data(), "velmora", 7);
    std::uint16_t sum = 0;
    for (std::size_t i = 512; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 31);
        sum = static_cast<std::uint16_t>(sum + image[i]);
    }
    qdx::PutBigEndian16(&image[14], sum);
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> image = SmallImage();
    auto flash = std::make_shared<InputFlash>(data, size);
    if (size > 3 && (data[1] & 0x04)) {
        flash->SetFailFrom(static_cast<std::uint64_t>(data[2]) << 8 | data[3]);
    }
    qdx::CFlashEngine engine;
    engine.SetBuiltinImage(image);
    engine.m_format = 1;
    if (!engine.InitFlash(flash)) {
        return 0;
    }
    engine.PlanBackupAreas();
    engine.m_format = 0;
    if (!engine.InitFlash(flash)) {
        return 0;
    }
    // The layout now holds whatever the input's kernel block said: the writer must refuse what
    // lies outside the flash and never write there.
    engine.WriteImage(engine.m_layout[qdx::kSlotImPm], 0, qdx::kBuiltinImagePath, 1, 0);
    engine.WriteImage(engine.m_layout[qdx::kSlotImPmBackup], 0, qdx::kBuiltinImagePath, 1, 1,
                      1280 >> engine.m_blockShift);
    engine.WriteImage(engine.m_layout[engine.m_blocksK], 0, qdx::kBuiltinImagePath, 1, 0);
    return 0;
}
