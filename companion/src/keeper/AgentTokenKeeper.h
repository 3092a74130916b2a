#pragma once
// The pairing token and its item in the secret store: read once, asynchronously, when loading;
// made and saved only when the store has none; saved again on request; replaced on request.
// When the store fails, the token in use is kept for the session, and an item the store could
// not read is never overwritten (only a new token the user asks for replaces it). GUI thread
// only; nothing here waits for the store.

#include "AgentSecretStore.h"

#include <QObject>
#include <QString>

namespace kestro::companion {

class AgentTokenKeeper : public QObject {
    Q_OBJECT

  public:
    // Where the token in use stands with the store.
    enum class Storage {
        pending,   // the store has not answered yet
        stored,    // the store holds it
        notStored, // the store failed (`storageError` says how): it lasts for this session only
    };

    // Keeps the token of `account` in `store`, which must outlive the keeper.
    AgentTokenKeeper(AgentSecretStore& store, QString account, QObject* parent = nullptr);

    // Asks the store for the token; `ready` follows once there is one.
    void load();
    // A token is known (read, or made here); until then `token` is empty.
    bool isReady() const { return !m_token.isEmpty(); }
    const QString& token() const { return m_token; }
    Storage storage() const { return m_storage; }
    // The store's description of its last failure, while `storage` is notStored.
    const QString& storageError() const { return m_storageError; }

    // Where the token stands with the store, as the token row's help line says it.
    QString note() const;
    // While the store failed: which store it is and what to do about it; else empty.
    QString storeAdvice() const;
    // The token as the window shows it (AgentPairToken's masked form).
    QString masked() const;

    // Saves the token once more, unless it stands in for an item the store could not read.
    void save();
    // A new token replaces the current one (and the stored item) and is saved.
    void regenerate();
    // After a failure, asks the store again: the item it could not read is read (and used, when it
    // holds another token than this session's), or the token it could not save is saved.
    void retry();

  signals:
    void tokenChanged();
    // The first token is known.
    void ready();
    void storageChanged();
    // The store failed; `description` is its error's.
    void storeFailed(const QString& description);
    // A retry read the stored token, which replaced this session's: a runtime started with the
    // session's token has to start again.
    void storedTokenRestored();

  private:
    void handleRead(const AgentSecretStore::ReadResult& result);
    void handleRetryRead(const AgentSecretStore::ReadResult& result);
    void handleSaved(const QString& token, const std::optional<AgentSecretStoreError>& error);
    void setToken(const QString& token);
    void setStorage(Storage storage, const std::optional<AgentSecretStoreError>& error = std::nullopt);

    AgentSecretStore& m_store;
    QString m_account;
    QString m_token;
    Storage m_storage = Storage::pending;
    QString m_storageError;
    int32_t m_storageStatus = 0;
    // False while the store holds an item it could not read: saving would destroy it.
    bool m_mayWrite = true;
};

} // namespace kestro::companion
