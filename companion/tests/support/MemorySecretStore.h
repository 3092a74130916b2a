#pragma once
// A secret store in memory for tests, which can be told to fail like a real one.

#include "AgentSecretStore.h"

#include <QMap>

namespace kestro::testing {

using companion::AgentSecretStore;
using companion::AgentSecretStoreError;

class MemorySecretStore final : public AgentSecretStore {
  public:
    std::optional<QString> read(const QString& account) override {
        ++reads;
        if (failReads) throw AgentSecretStoreError(AgentSecretStoreError::Case::loadFailed, 7);
        if (!items.contains(account)) return std::nullopt;
        return items.value(account);
    }
    void save(const QString& value, const QString& account) override {
        ++saves;
        if (failSaves) throw AgentSecretStoreError(AgentSecretStoreError::Case::saveFailed, 4);
        items.insert(account, value);
    }
    void remove(const QString& account) override { items.remove(account); }

    QMap<QString, QString> items;
    bool failReads = false;
    bool failSaves = false;
    int reads = 0;
    int saves = 0;
};

} // namespace kestro::testing
