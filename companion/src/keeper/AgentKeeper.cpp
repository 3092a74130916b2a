#include "AgentKeeper.h"

#include "AgentKeychainStore.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

namespace kestro::companion {

AgentKeeperServices AgentKeeper::systemServices() {
    return {.settings = std::make_unique<QSettings>(),
            .secretStore = std::make_unique<AgentKeychainStore>(QString::fromLatin1(kSecretService)),
            .runtimeSearch = [] { return currentRuntimeSearch(); },
            .environment = QProcessEnvironment::systemEnvironment(),
            .openURL = [](const QUrl& location) { QDesktopServices::openUrl(location); },
            .defaults = defaultConfiguration(),
            .loginItem = systemLoginItem()};
}

AgentKeeper::AgentKeeper(AgentKeeperServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_settings(*m_services.settings, m_services.defaults),
      m_token(*m_services.secretStore, QString::fromLatin1(kTokenAccount)),
      m_desktop(std::move(m_services.loginItem), m_log),
      m_runtime(m_settings, m_token, m_log,
                {.runtimeSearch = m_services.runtimeSearch,
                 .environment = m_services.environment,
                 .restartTiming = m_services.restartTiming}) {
    connect(&m_token, &AgentTokenKeeper::storeFailed, this,
            [this](const QString& description) { m_log.append(QStringLiteral("token: ") + description); });
    connect(&m_token, &AgentTokenKeeper::storedTokenRestored, this, [this] {
        if (m_runtime.hasProcess()) m_runtime.restart();
    });
    m_token.load();
}

// The supervisor, a member, ends a runtime that still runs (asked, then killed) as it goes.
AgentKeeper::~AgentKeeper() = default;

void AgentKeeper::copyToken() {
    if (!m_token.isReady()) return;
    QGuiApplication::clipboard()->setText(m_token.token());
    m_banner.show(QStringLiteral("Pair token copied"));
}

void AgentKeeper::regenerateToken() {
    m_token.regenerate();
    m_banner.show(QStringLiteral("Pair token regenerated"));
    // The runtime takes the new token only when it starts again.
    if (m_runtime.hasProcess()) m_runtime.restart();
}

void AgentKeeper::copyPairLink() {
    if (!m_runtime.hasPairLink()) return;
    QGuiApplication::clipboard()->setText(m_runtime.pairLink());
    m_banner.show(QStringLiteral("Pair link copied"));
}

void AgentKeeper::retrySecretStore() {
    m_token.retry();
}

void AgentKeeper::openPairingPage() {
    if (m_runtime.hasPairPage()) m_services.openURL(m_runtime.pairPageURL());
}

} // namespace kestro::companion
