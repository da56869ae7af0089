#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <asio/ip/address_v4.hpp>

#include "model/AppModel.h"
#include "model/ModelServices.h"
#include "platform/SettingsStore.h"
#include "support/TestEnv.h"

namespace qb::test {

// One application object for the whole test process: timers and queued calls need it.
inline QCoreApplication& testApp() {
    if (auto* existing = QCoreApplication::instance()) {
        return *existing;
    }
    static int argc = 1;
    static char name[] = "model_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds or `limit` passes; answers whether it held.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline const std::string kOwnKey(64, 'f');
inline const std::string K1(64, '1');
inline const std::string K2(64, '2');

// A device seen on the network at 127.0.0.1.
inline model::Peer peer(std::string name, int proto, std::optional<std::string> key) {
    return model::Peer{name, name, platform::HostPort("127.0.0.1", 7), proto, std::move(key)};
}

// A model's configuration for the views' tests: settings and received files in `dir`, a plain listener on
// loopback only, and no sound.
inline model::ModelConfig loopbackConfig(const std::filesystem::path& dir) {
    model::ModelConfig config;
    config.settingsFile = dir / "settings.json";
    config.sources.downloadsFolder = dir / "Downloads";
    config.ownKey = [] { return kOwnKey; };
    config.server.options.identity = nullptr;
    config.server.options.bindAddress = asio::ip::address_v4::loopback();
    config.desktop.playSound = [](std::string_view) {};
    return config;
}

// A model in a private folder with the environment cleared, fake desktop services that record what they were
// asked, and short job timings.
class ModelHarness {
public:
    ModelHarness() {
        testApp();
        config.settingsFile = dir / "config" / "settings.json";
        config.sources.machineInfoFile = dir / "machine-info";
        config.sources.downloadsFolder = dir / "Downloads";
        config.timings.doneLinger = std::chrono::milliseconds(40);
        config.timings.failedLinger = std::chrono::milliseconds(400);
        config.ownKey = [] { return kOwnKey; };
        config.desktop.notify = [this](const std::string& title, const std::string& body,
                                       std::vector<platform::NotificationAction> actions) {
            notificationActions.push_back(std::move(actions));
            notifications.push_back(title + "|" + body);
            return notifications.size();
        };
        config.desktop.playSound = [this](std::string_view sound) { sounds.emplace_back(sound); };
        config.desktop.confirmKeyChange = [this](const model::KeyChangePrompt& prompt) {
            prompts.push_back(prompt);
            return acceptKeyChange;
        };
    }

    platform::SettingsStore store() const { return platform::SettingsStore(config.settingsFile); }

    model::AppModel& make() {
        model = std::make_unique<model::AppModel>(config);
        return *model;
    }

    TempDir dir;
    ScopedEnv name{"QUOBBLEFIN_NAME", std::nullopt};
    ScopedEnv saveDir{"QUOBBLEFIN_SAVEDIR", std::nullopt};
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config;
    std::vector<std::string> notifications;
    std::vector<std::vector<platform::NotificationAction>> notificationActions;
    std::vector<std::string> sounds;
    std::vector<model::KeyChangePrompt> prompts;
    bool acceptKeyChange = false;
    std::unique_ptr<model::AppModel> model;
};

}  // namespace qb::test
