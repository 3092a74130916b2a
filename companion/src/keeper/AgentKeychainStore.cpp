#include "AgentKeychainStore.h"

#include <QStringDecoder>
#include <qt6keychain/keychain.h>

namespace kestro::companion {

namespace {

// Starts `job` and calls `ended` with it once it has finished (which may happen before start()
// returns, for a backend that answers at once). The job deletes itself afterwards.
template <typename Job, typename Ended> void runJob(Job* job, QObject* context, Ended ended) {
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [job, ended = std::move(ended)] { ended(*job); });
    job->start();
}

AgentSecretStore::ReadResult readResult(const QKeychain::ReadPasswordJob& job) {
    using Case = AgentSecretStoreError::Case;
    if (job.error() == QKeychain::EntryNotFound) return {};
    if (job.error() != QKeychain::NoError)
        return {.error = AgentSecretStoreError(Case::loadFailed, job.error(), job.errorString())};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(job.binaryData());
    if (decoder.hasError()) return {.error = AgentSecretStoreError(Case::encodingFailed)};
    return {.value = std::move(text)};
}

} // namespace

void AgentKeychainStore::read(const QString& account, ReadDone done) {
    enqueue([this, account, done = std::move(done)](Finish finish) {
        auto* job = new QKeychain::ReadPasswordJob(m_service, &m_context);
        job->setKey(account);
        runJob(job, &m_context, [this, done, finish](const QKeychain::ReadPasswordJob& ended) {
            deliver([done, result = readResult(ended)] { done(result); });
            finish();
        });
    });
}

void AgentKeychainStore::save(const QString& value, const QString& account, WriteDone done) {
    enqueue([this, value, account, done = std::move(done)](Finish finish) {
        const auto fail = [this, done, finish](AgentSecretStoreError error) {
            deliver([done, error] { done(error); });
            finish();
        };
        // Lone surrogates have no UTF-8 form.
        if (!value.isValidUtf16())
            return fail(AgentSecretStoreError(AgentSecretStoreError::Case::encodingFailed));
        // The earlier item goes first; nothing is written when it cannot.
        auto* removal = new QKeychain::DeletePasswordJob(m_service, &m_context);
        removal->setKey(account);
        runJob(removal, &m_context, [=, this](const QKeychain::DeletePasswordJob& removed) {
            if (removed.error() != QKeychain::NoError && removed.error() != QKeychain::EntryNotFound)
                return fail(AgentSecretStoreError(AgentSecretStoreError::Case::deleteFailed, removed.error(),
                                                  removed.errorString()));
            auto* write = new QKeychain::WritePasswordJob(m_service, &m_context);
            write->setKey(account);
            write->setBinaryData(value.toUtf8());
            runJob(write, &m_context, [=, this](const QKeychain::WritePasswordJob& written) {
                if (written.error() != QKeychain::NoError)
                    return fail(AgentSecretStoreError(AgentSecretStoreError::Case::saveFailed,
                                                      written.error(), written.errorString()));
                deliver([done] { done(std::nullopt); });
                finish();
            });
        });
    });
}

void AgentKeychainStore::remove(const QString& account, WriteDone done) {
    enqueue([this, account, done = std::move(done)](Finish finish) {
        auto* job = new QKeychain::DeletePasswordJob(m_service, &m_context);
        job->setKey(account);
        runJob(job, &m_context, [this, done, finish](const QKeychain::DeletePasswordJob& ended) {
            std::optional<AgentSecretStoreError> error;
            if (ended.error() != QKeychain::NoError && ended.error() != QKeychain::EntryNotFound)
                error = AgentSecretStoreError(AgentSecretStoreError::Case::deleteFailed, ended.error(),
                                              ended.errorString());
            deliver([done, error] { done(error); });
            finish();
        });
    });
}

void AgentKeychainStore::enqueue(Operation operation) {
    m_queue.push_back(std::move(operation));
    runNext();
}

void AgentKeychainStore::runNext() {
    if (m_running || m_queue.empty()) return;
    m_running = true;
    Operation operation = std::move(m_queue.front());
    m_queue.pop_front();
    operation([this] {
        m_running = false;
        runNext();
    });
}

void AgentKeychainStore::deliver(std::function<void()> callback) {
    QMetaObject::invokeMethod(&m_context, std::move(callback), Qt::QueuedConnection);
}

} // namespace kestro::companion
