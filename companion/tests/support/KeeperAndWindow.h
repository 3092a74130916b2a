#pragma once
// The keeper and the window as the window tests run them, in one process over the real channel:
// the settings and the channel's private folder in the test's folder, a fake runtime, the
// "Studio" defaults, and a secret store in memory unless the test brings its own.

#include "AgentKeeper.h"
#include "AgentLoginItem.h"
#include "AgentPrivateFolder.h"
#include "AgentWindowApp.h"
#include "AgentWindowChannel.h"
#include "support/MemorySecretStore.h"

#include <QDir>
#include <QSettings>
#include <functional>
#include <memory>

namespace kestro::testing {

struct KeeperAndWindow {
    std::unique_ptr<companion::AgentKeeper> keeper;
    std::unique_ptr<companion::AgentWindowChannel> channel;
    std::unique_ptr<companion::AgentWindowApp> app;

    // Starts the keeper, which starts `runtimeProgram`, and opens the window on its channel. On
    // failure: what went wrong.
    QString open(
        const QDir& folder, const QString& runtimeProgram,
        std::function<void(const QUrl&)> openURL = [](const QUrl&) {},
        std::unique_ptr<companion::AgentSecretStore> store = nullptr) {
        using namespace companion;
        folder.mkpath(QStringLiteral("work"));
        AgentKeeperServices services{
            .settings = std::make_unique<QSettings>(folder.filePath("settings.ini"), QSettings::IniFormat),
            .secretStore = store ? std::move(store) : std::make_unique<MemorySecretStore>(),
            .runtimeSearch = [runtimeProgram] { return RuntimeSearch{.runtimeVariable = runtimeProgram}; },
            .environment = QProcessEnvironment::systemEnvironment(),
            .openURL = std::move(openURL),
            .defaults = {.machineName = "Studio",
                         .host = "0.0.0.0",
                         .port = "8787",
                         .advertisedHost = "",
                         .workingDirectory = folder.filePath("work")},
            .loginItem = systemLoginItem(folder.filePath("kestro-agent-companion"))};
        keeper = std::make_unique<AgentKeeper>(std::move(services));
        channel = std::make_unique<AgentWindowChannel>(*keeper);
        if (!preparePrivateFolder({folder.filePath("private")}).has_value())
            return QStringLiteral("no private folder");
        if (QString refused = channel->listen(folder.filePath("private/window.socket")); !refused.isEmpty())
            return refused;
        keeper->runtime().startIfNeeded();
        app = std::make_unique<AgentWindowApp>();
        app->open(folder.filePath("private/window.socket"));
        return app->window() != nullptr ? QString() : QStringLiteral("no window");
    }

    void close() {
        app.reset();
        channel.reset();
        keeper.reset();
    }
};

} // namespace kestro::testing
