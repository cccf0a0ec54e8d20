// Simulated players arriving as files in a folder.
#include <filesystem>
#include <map>
#include <thread>

#include "players/PlayerArrivals.h"

namespace qdx::players {

namespace {

namespace fs = std::filesystem;

class SimFolderArrivals : public IPlayerArrivals {
public:
    SimFolderArrivals(std::string folder, PlayerTarget templateTarget)
        : m_folder(std::move(folder)), m_template(std::move(templateTarget)) {}

    std::vector<PresentPlayer> Present(std::chrono::milliseconds wait) override {
        std::this_thread::sleep_for(wait);
        std::map<std::string, Seen> now;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_folder, error)) {
            std::error_code entryError;
            if (entry.path().extension() != ".sim" || !entry.is_regular_file(entryError)) {
                continue;
            }
            const Seen seen{entry.file_size(entryError), entry.last_write_time(entryError)};
            if (!entryError) {
                now.emplace(entry.path().string(), seen);
            }
        }
        std::vector<PresentPlayer> present;
        for (const auto& [path, seen] : now) {
            auto before = m_lastLook.find(path);
            if (before == m_lastLook.end() || !(before->second == seen)) {
                continue;  // new or still changing: taken at the next look
            }
            PresentPlayer player;
            player.id = path;
            player.target = m_template;
            player.target.kind = PlayerTarget::Kind::Sim;
            player.target.path = path;
            present.push_back(std::move(player));
        }
        m_lastLook = std::move(now);
        return present;
    }

private:
    struct Seen {
        std::uintmax_t size = 0;
        fs::file_time_type changed;
        bool operator==(const Seen&) const = default;
    };

    std::string m_folder;
    PlayerTarget m_template;
    std::map<std::string, Seen> m_lastLook;
};

}  // namespace

std::unique_ptr<IPlayerArrivals> WatchSimFolder(const std::string& folder,
                                                const PlayerTarget& templateTarget) {
    return std::make_unique<SimFolderArrivals>(folder, templateTarget);
}

}  // namespace qdx::players
