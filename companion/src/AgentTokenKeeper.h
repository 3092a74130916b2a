#pragma once
// The pairing token and its item in the secret store: read once, asynchronously, when loading;
// made and saved when the store has none; saved again on request; replaced on request. GUI
// thread only; nothing here waits for the store.

#include "AgentSecretStore.h"

#include <QObject>
#include <QString>

namespace kestro::companion {

class AgentTokenKeeper : public QObject {
    Q_OBJECT

  public:
    // Keeps the token of `account` in `store`, which must outlive the keeper.
    AgentTokenKeeper(AgentSecretStore& store, QString account, QObject* parent = nullptr);

    // Asks the store for the token; `ready` follows once there is one.
    void load();
    // A token is known (read, or made here); until then `token` is empty.
    bool isReady() const { return !m_token.isEmpty(); }
    const QString& token() const { return m_token; }

    // Saves the token once more.
    void save();
    // A new token replaces the current one and is saved.
    void regenerate();

  signals:
    void tokenChanged();
    // The first token is known.
    void ready();

  private:
    void handleRead(const AgentSecretStore::ReadResult& result);
    void setToken(const QString& token);

    AgentSecretStore& m_store;
    QString m_account;
    QString m_token;
};

} // namespace kestro::companion
