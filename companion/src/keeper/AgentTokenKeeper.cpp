#include "AgentTokenKeeper.h"

#include "AgentPairToken.h"
#include "AgentPlatformTexts.h"

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
    if (result.error) {
        // The item may be fine and the store only not ready (a keyring still locked at login): a
        // token for this session, and the item left as it is, so paired phones stay paired.
        m_mayWrite = false;
        setToken(newPairToken());
        setStorage(Storage::notStored, result.error);
        emit ready();
        return;
    }
    if (result.value && !result.value->isEmpty()) {
        setToken(*result.value);
        setStorage(Storage::stored);
        emit ready();
        return;
    }
    // Nothing stored, or an empty item: a new token, saved.
    setToken(newPairToken());
    save();
    emit ready();
}

QString AgentTokenKeeper::note() const {
    switch (m_storage) {
    case Storage::pending:
        return platformTexts().tokenPending;
    case Storage::stored:
        return platformTexts().tokenStored;
    case Storage::notStored:
        break;
    }
    return QStringLiteral("Kept for this session only. ") + m_storageError;
}

QString AgentTokenKeeper::storeAdvice() const {
    return m_storage == Storage::notStored ? secretStoreAdvice(m_storageStatus) : QString();
}

void AgentTokenKeeper::retry() {
    if (m_storage != Storage::notStored) return;
    setStorage(Storage::pending);
    if (m_mayWrite) {
        save();
        return;
    }
    m_store.read(m_account,
                 [self = QPointer(this), token = m_token](const AgentSecretStore::ReadResult& result) {
                     // A token regenerated meanwhile is the user's choice and stays.
                     if (self && self->m_token == token) self->handleRetryRead(result);
                 });
}

void AgentTokenKeeper::handleRetryRead(const AgentSecretStore::ReadResult& result) {
    if (result.error) {
        setStorage(Storage::notStored, result.error);
        return;
    }
    m_mayWrite = true;
    if (!result.value || result.value->isEmpty()) {
        // Nothing stored after all: this session's token is the one to keep.
        save();
        return;
    }
    // The phones paired before this session know the stored token: it wins.
    const bool replaced = *result.value != m_token;
    setToken(*result.value);
    setStorage(Storage::stored);
    if (replaced) emit storedTokenRestored();
}

QString AgentTokenKeeper::masked() const {
    return maskedToken(m_token);
}

void AgentTokenKeeper::save() {
    if (!m_mayWrite) return;
    m_store.save(m_token, m_account,
                 [self = QPointer(this), token = m_token](const std::optional<AgentSecretStoreError>& error) {
                     if (self) self->handleSaved(token, error);
                 });
}

void AgentTokenKeeper::handleSaved(const QString& token, const std::optional<AgentSecretStoreError>& error) {
    // The answer for a token since replaced says nothing about the one in use.
    if (token != m_token) return;
    setStorage(error ? Storage::notStored : Storage::stored, error);
}

void AgentTokenKeeper::regenerate() {
    const bool wasReady = isReady();
    // Asked for by the user: this token replaces whatever the store holds.
    m_mayWrite = true;
    setToken(newPairToken());
    setStorage(Storage::pending);
    save();
    if (!wasReady) emit ready();
}

void AgentTokenKeeper::setToken(const QString& token) {
    if (token == m_token) return;
    m_token = token;
    emit tokenChanged();
}

void AgentTokenKeeper::setStorage(Storage storage, const std::optional<AgentSecretStoreError>& error) {
    const QString description = error ? error->description() : QString();
    const int32_t status = error ? error->status() : 0;
    if (storage == m_storage && description == m_storageError && status == m_storageStatus) return;
    m_storage = storage;
    m_storageError = description;
    m_storageStatus = status;
    emit storageChanged();
    if (storage == Storage::notStored) emit storeFailed(description);
}

} // namespace kestro::companion
