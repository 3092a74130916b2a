#pragma once
// Where the companion keeps secrets (the pairing token). Every operation returns at once and
// reports its outcome later, on the calling thread's event loop: nothing waits for the store.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestro::companion {

// A failure of the secret store, with the store's status code and a user-readable description.
class AgentSecretStoreError {
  public:
    enum class Case { saveFailed, loadFailed, deleteFailed, encodingFailed };

    // `detail`: the store's own words for the failure, where it has any.
    AgentSecretStoreError(Case errorCase, int32_t status = 0, const QString& detail = QString());

    Case errorCase() const { return m_case; }
    // The store's own status code; 0 for encodingFailed.
    int32_t status() const { return m_status; }
    // E.g. "kestro Agent could not save a secret to Keychain (status -25299)."
    QString description() const { return m_description; }

  private:
    Case m_case;
    int32_t m_status;
    QString m_description;
};

class AgentSecretStore {
  public:
    // What a read found: the stored text (absent when the account has no item), or the error.
    struct ReadResult {
        std::optional<QString> value;
        std::optional<AgentSecretStoreError> error;
    };
    using ReadDone = std::function<void(const ReadResult&)>;
    // Absent on success.
    using WriteDone = std::function<void(const std::optional<AgentSecretStoreError>&)>;

    virtual ~AgentSecretStore() = default;

    // Each operation calls `done` exactly once, from the event loop and never before it returns,
    // unless the store is destroyed first. Operations complete in the order they were asked for.
    virtual void read(const QString& account, ReadDone done) = 0;
    // Replaces any earlier item of the account.
    virtual void save(const QString& value, const QString& account, WriteDone done) = 0;
    // Removes the account's item; an account without one is no error.
    virtual void remove(const QString& account, WriteDone done) = 0;
};

} // namespace kestro::companion
