#include "AgentSecretStore.h"

namespace kestro::companion {

namespace {

QString describe(AgentSecretStoreError::Case errorCase, int32_t status) {
    const QString code = QString::number(status);
    switch (errorCase) {
    case AgentSecretStoreError::Case::saveFailed:
        return QStringLiteral("kestro Agent could not save a secret to Keychain (status %1).").arg(code);
    case AgentSecretStoreError::Case::loadFailed:
        return QStringLiteral("kestro Agent could not read a secret from Keychain (status %1).").arg(code);
    case AgentSecretStoreError::Case::deleteFailed:
        return QStringLiteral("kestro Agent could not delete a secret from Keychain (status %1).").arg(code);
    case AgentSecretStoreError::Case::encodingFailed:
        break;
    }
    return QStringLiteral("kestro Agent could not encode a value for secure storage.");
}

} // namespace

AgentSecretStoreError::AgentSecretStoreError(Case errorCase, int32_t status)
    : m_case(errorCase), m_status(status), m_description(describe(errorCase, status)) {}

} // namespace kestro::companion
