// The secret store against a real Secret Service (gnome-keyring in a private D-Bus session,
// started by run-test --secret-service).

#include "AgentKeeper.h"
#include "AgentKeychainStore.h"

#include <QtTest>

using namespace kestro::companion;

namespace {

constexpr int kDeadline = 20000;

using ReadResult = AgentSecretStore::ReadResult;
using WriteOutcome = std::optional<AgentSecretStoreError>;

// Each operation's outcome once the event loop has delivered it.
std::optional<ReadResult> readNow(AgentSecretStore& store, const QString& account) {
    std::optional<ReadResult> result;
    store.read(account, [&result](const ReadResult& answer) { result = answer; });
    if (!QTest::qWaitFor([&result] { return result.has_value(); }, kDeadline)) return std::nullopt;
    return result;
}

// "done", or the error's description.
QString outcome(const std::optional<WriteOutcome>& answer) {
    if (!answer) return QStringLiteral("(no answer)");
    return *answer ? (*answer)->description() : QStringLiteral("done");
}

QString saveNow(AgentSecretStore& store, const QString& value, const QString& account) {
    std::optional<WriteOutcome> answer;
    store.save(value, account, [&answer](const WriteOutcome& given) { answer = given; });
    if (!QTest::qWaitFor([&answer] { return answer.has_value(); }, kDeadline)) return outcome(std::nullopt);
    return outcome(answer);
}

QString removeNow(AgentSecretStore& store, const QString& account) {
    std::optional<WriteOutcome> answer;
    store.remove(account, [&answer](const WriteOutcome& given) { answer = given; });
    if (!QTest::qWaitFor([&answer] { return answer.has_value(); }, kDeadline)) return outcome(std::nullopt);
    return outcome(answer);
}

// The stored text a read found, or a note of what else it found.
QString found(const std::optional<ReadResult>& result) {
    if (!result) return QStringLiteral("(no answer)");
    if (result->error) return result->error->description();
    return result->value.value_or(QStringLiteral("(nothing)"));
}

} // namespace

class AgentKeychainStoreTests : public QObject {
    Q_OBJECT

  private:
    const QString m_service = QString::fromLatin1(AgentKeeper::kSecretService);
    const QString m_account = QString::fromLatin1(AgentKeeper::kTokenAccount);

  private slots:
    void aSecretIsSavedReadReplacedAndRemoved() {
        AgentKeychainStore store(m_service);
        QCOMPARE(found(readNow(store, m_account)), QStringLiteral("(nothing)"));
        QCOMPARE(saveNow(store, QStringLiteral("first-token"), m_account), QStringLiteral("done"));
        // A second store of the same service sees what the first saved: it lives in the service.
        AgentKeychainStore second(m_service);
        QCOMPARE(found(readNow(second, m_account)), QStringLiteral("first-token"));
        QCOMPARE(saveNow(store, QStringLiteral("Zweites Gerät · 🔑"), m_account), QStringLiteral("done"));
        QCOMPARE(found(readNow(store, m_account)), QStringLiteral("Zweites Gerät · 🔑"));
        // Another service keeps its own items.
        AgentKeychainStore other(QStringLiteral("com.brantel.kestro.other"));
        QCOMPARE(found(readNow(other, m_account)), QStringLiteral("(nothing)"));
        QCOMPARE(removeNow(store, m_account), QStringLiteral("done"));
        QCOMPARE(found(readNow(store, m_account)), QStringLiteral("(nothing)"));
        // Removing what is not there is no error.
        QCOMPARE(removeNow(store, m_account), QStringLiteral("done"));
    }

    void operationsAnswerLaterAndInTheOrderAsked() {
        AgentKeychainStore store(m_service);
        QStringList answers;
        store.save(QStringLiteral("one"), m_account, [&](const WriteOutcome&) { answers << "saved one"; });
        store.read(m_account, [&](const ReadResult& result) { answers << "read " + found(result); });
        store.save(QStringLiteral("two"), m_account, [&](const WriteOutcome&) { answers << "saved two"; });
        store.read(m_account, [&](const ReadResult& result) { answers << "read " + found(result); });
        // Nothing is answered from within the call: the caller never waits for the store.
        QVERIFY(answers.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 4, kDeadline);
        QCOMPARE(answers, (QStringList{"saved one", "read one", "saved two", "read two"}));
        QCOMPARE(removeNow(store, m_account), QStringLiteral("done"));
    }

    void aValueWithoutAUTF8FormIsRefused() {
        AgentKeychainStore store(m_service);
        QCOMPARE(saveNow(store, QString(QChar(0xD800)), m_account),
                 AgentSecretStoreError(AgentSecretStoreError::Case::encodingFailed).description());
    }
};

QTEST_GUILESS_MAIN(AgentKeychainStoreTests)
#include "AgentKeychainStoreTests.moc"
