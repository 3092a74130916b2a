#pragma once
// Where the companion keeps secrets (the pairing token). Every operation is synchronous for its
// caller and throws AgentSecretStoreError when the store fails.

#include <QString>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace kestro::companion {

class AgentSecretStoreError : public std::exception {
  public:
    enum class Case { saveFailed, loadFailed, deleteFailed, encodingFailed };

    AgentSecretStoreError(Case errorCase, int32_t status = 0);

    Case errorCase() const { return m_case; }
    // The store's own status code; 0 for encodingFailed.
    int32_t status() const { return m_status; }
    // The user-readable description, e.g. "kestro Agent could not save a secret to Keychain (status -25299)."
    QString description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

  private:
    Case m_case;
    int32_t m_status;
    QString m_description;
    std::string m_utf8;
};

class AgentSecretStore {
  public:
    virtual ~AgentSecretStore() = default;

    // The stored text, or absent when the account has no item.
    virtual std::optional<QString> read(const QString& account) = 0;
    // Replaces any earlier item of the account.
    virtual void save(const QString& value, const QString& account) = 0;
    // Removes the account's item; an account without one is no error.
    virtual void remove(const QString& account) = 0;
};

} // namespace kestro::companion
