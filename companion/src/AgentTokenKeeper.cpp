#include "AgentTokenKeeper.h"

#include "AgentPairToken.h"

#include <QPointer>

namespace kestro::companion {

AgentTokenKeeper::AgentTokenKeeper(AgentSecretStore& store, QString account, QObject* parent)
    : QObject(parent), m_store(store), m_account(std::move(account)) {}

void AgentTokenKeeper::load() {
    m_store.read(m_account, [self = QPointer(this)](const AgentSecretStore::ReadResult& result) {
        if (self) self->handleRead(result);
    });
}

void AgentTokenKeeper::handleRead(const AgentSecretStore::ReadResult& result) {
    // A token made meanwhile (regenerated) wins over what the store held.
    if (isReady()) return;
    if (result.value && !result.value->isEmpty()) {
        setToken(*result.value);
        emit ready();
        return;
    }
    // Nothing stored, an empty item, or the store failed: a new token, which replaces the item.
    setToken(newPairToken());
    save();
    emit ready();
}

void AgentTokenKeeper::save() {
    // A failure is discarded: the token still works while the companion runs.
    m_store.save(m_token, m_account, [](const std::optional<AgentSecretStoreError>&) {});
}

void AgentTokenKeeper::regenerate() {
    const bool wasReady = isReady();
    setToken(newPairToken());
    save();
    if (!wasReady) emit ready();
}

void AgentTokenKeeper::setToken(const QString& token) {
    if (token == m_token) return;
    m_token = token;
    emit tokenChanged();
}

} // namespace kestro::companion
