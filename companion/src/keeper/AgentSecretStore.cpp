#include "AgentSecretStore.h"

#include "AgentPlatformTexts.h"

namespace kestro::companion {

namespace {

QString describe(AgentSecretStoreError::Case errorCase, int32_t status, const QString& detail) {
    const QString code = secretStoreStatus(status, detail);
    switch (errorCase) {
    case AgentSecretStoreError::Case::saveFailed:
        return platformTexts().saveFailed.arg(code);
    case AgentSecretStoreError::Case::loadFailed:
        return platformTexts().loadFailed.arg(code);
    case AgentSecretStoreError::Case::deleteFailed:
        return platformTexts().deleteFailed.arg(code);
    case AgentSecretStoreError::Case::encodingFailed:
        break;
    }
    return QStringLiteral("kestro Agent could not encode a value for secure storage.");
}

} // namespace

AgentSecretStoreError::AgentSecretStoreError(Case errorCase, int32_t status, const QString& detail)
    : m_case(errorCase), m_status(status), m_description(describe(errorCase, status, detail)) {}

} // namespace kestro::companion
