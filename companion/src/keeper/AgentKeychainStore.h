#pragma once
// The secret store of the operating system through QtKeychain: the Keychain on macOS, the
// Secret Service on Linux. Operations run one after another, each as QtKeychain jobs that report
// back on the event loop of the thread that owns the store; use it from that thread only.

#include "AgentSecretStore.h"

#include <QObject>
#include <deque>

namespace kestro::companion {

class AgentKeychainStore final : public AgentSecretStore {
  public:
    explicit AgentKeychainStore(QString service) : m_service(std::move(service)) {}

    const QString& service() const { return m_service; }

    void read(const QString& account, ReadDone done) override;
    void save(const QString& value, const QString& account, WriteDone done) override;
    void remove(const QString& account, WriteDone done) override;

  private:
    using Finish = std::function<void()>;
    using Operation = std::function<void(Finish)>;

    // Runs `operation` once every earlier one has finished; it calls its Finish when done.
    void enqueue(Operation operation);
    void runNext();
    // Calls `callback` from the event loop.
    void deliver(std::function<void()> callback);

    QString m_service;
    // Parent of the running jobs and context of their signals: gone with the store.
    QObject m_context;
    std::deque<Operation> m_queue;
    bool m_running = false;
};

} // namespace kestro::companion
