#pragma once
// A secret store in memory for tests: it answers after a delay of the test's choosing (a keyring
// may take its time) and can be told to fail like a real one. Operations complete in order.

#include "AgentSecretStore.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace kestro::testing {

using companion::AgentSecretStore;
using companion::AgentSecretStoreError;

class MemorySecretStore final : public AgentSecretStore {
  public:
    MemorySecretStore() = default;
    // A store with the same items, failures and delays (the counts start again).
    MemorySecretStore(const MemorySecretStore& other)
        : items(other.items), readError(other.readError), saveError(other.saveError),
          readDelayMilliseconds(other.readDelayMilliseconds),
          saveDelayMilliseconds(other.saveDelayMilliseconds) {}

    void read(const QString& account, ReadDone done) override {
        ++reads;
        answer(readDelayMilliseconds, [this, account, done] {
            if (readError) return done({.error = *readError});
            if (!items.contains(account)) return done({});
            done({.value = items.value(account)});
        });
    }
    void save(const QString& value, const QString& account, WriteDone done) override {
        ++saves;
        answer(saveDelayMilliseconds, [this, value, account, done] {
            if (saveError) return done(*saveError);
            items.insert(account, value);
            done(std::nullopt);
        });
    }
    void remove(const QString& account, WriteDone done) override {
        answer(0, [this, account, done] {
            items.remove(account);
            done(std::nullopt);
        });
    }

    // Operations asked for and not yet answered.
    int pending() const { return m_pending; }

    QMap<QString, QString> items;
    std::optional<AgentSecretStoreError> readError;
    std::optional<AgentSecretStoreError> saveError;
    int readDelayMilliseconds = 0;
    int saveDelayMilliseconds = 0;
    int reads = 0;
    int saves = 0;

  private:
    // After `delay`, and after every operation asked for earlier.
    void answer(int delay, std::function<void()> outcome) {
        ++m_pending;
        // One reading of the clock: a second one may be a millisecond later, and a negative
        // interval is refused by Qt, leaving the operation unanswered for good.
        const qint64 now = m_clock.elapsed();
        m_lastAnswer = std::max(m_lastAnswer, now + delay);
        QTimer::singleShot(int(m_lastAnswer - now), &m_context, [this, outcome] {
            --m_pending;
            outcome();
        });
    }

    QObject m_context;
    QElapsedTimer m_clock = [] {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }();
    qint64 m_lastAnswer = 0;
    int m_pending = 0;
};

} // namespace kestro::testing
