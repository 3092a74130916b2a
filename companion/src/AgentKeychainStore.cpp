#include "AgentKeychainStore.h"

#include <QEventLoop>
#include <QStringDecoder>
#include <qt6keychain/keychain.h>

namespace kestro::companion {

namespace {

// Starts the job and turns the event loop until it has finished; its error code.
QKeychain::Error runToEnd(QKeychain::Job& job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    job.start();
    // A backend that answers at once has finished before the loop would start.
    if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error();
}

} // namespace

std::optional<QString> AgentKeychainStore::read(const QString& account) {
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(account);
    const QKeychain::Error error = runToEnd(job);
    if (error == QKeychain::EntryNotFound) return std::nullopt;
    if (error != QKeychain::NoError)
        throw AgentSecretStoreError(AgentSecretStoreError::Case::loadFailed, error);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(job.binaryData());
    if (decoder.hasError()) throw AgentSecretStoreError(AgentSecretStoreError::Case::encodingFailed);
    return text;
}

void AgentKeychainStore::save(const QString& value, const QString& account) {
    // Lone surrogates have no UTF-8 form.
    if (!value.isValidUtf16()) throw AgentSecretStoreError(AgentSecretStoreError::Case::encodingFailed);
    remove(account);
    QKeychain::WritePasswordJob job(m_service);
    job.setKey(account);
    job.setBinaryData(value.toUtf8());
    if (const QKeychain::Error error = runToEnd(job); error != QKeychain::NoError)
        throw AgentSecretStoreError(AgentSecretStoreError::Case::saveFailed, error);
}

void AgentKeychainStore::remove(const QString& account) {
    QKeychain::DeletePasswordJob job(m_service);
    job.setKey(account);
    const QKeychain::Error error = runToEnd(job);
    if (error != QKeychain::NoError && error != QKeychain::EntryNotFound)
        throw AgentSecretStoreError(AgentSecretStoreError::Case::deleteFailed, error);
}

} // namespace kestro::companion
