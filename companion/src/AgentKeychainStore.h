#pragma once
// The secret store of the operating system through QtKeychain: the Keychain on macOS, the
// Secret Service on Linux. Each operation runs its job to the end before it returns, keeping the
// calling thread's event loop turning meanwhile; call it from the thread that owns the store.

#include "AgentSecretStore.h"

namespace kestro::companion {

class AgentKeychainStore final : public AgentSecretStore {
  public:
    explicit AgentKeychainStore(QString service) : m_service(std::move(service)) {}

    const QString& service() const { return m_service; }

    std::optional<QString> read(const QString& account) override;
    void save(const QString& value, const QString& account) override;
    void remove(const QString& account) override;

  private:
    QString m_service;
};

} // namespace kestro::companion
