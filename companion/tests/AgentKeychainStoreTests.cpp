// The secret store against a real Secret Service (gnome-keyring in a private D-Bus session,
// started by run-test --secret-service).

#include "AgentKeychainStore.h"
#include "AgentViewModel.h"

#include <QtTest>

using namespace kestro::companion;

class AgentKeychainStoreTests : public QObject {
    Q_OBJECT

  private:
    const QString m_service = QString::fromLatin1(AgentViewModel::kSecretService);
    const QString m_account = QString::fromLatin1(AgentViewModel::kTokenAccount);

  private slots:
    void aSecretIsSavedReadReplacedAndRemoved() {
        AgentKeychainStore store(m_service);
        QCOMPARE(store.read(m_account), std::nullopt);
        store.save(QStringLiteral("first-token"), m_account);
        // A second store of the same service sees what the first saved: it lives in the service.
        QCOMPARE(AgentKeychainStore(m_service).read(m_account), std::optional<QString>("first-token"));
        store.save(QStringLiteral("Zweites Gerät · 🔑"), m_account);
        QCOMPARE(store.read(m_account), std::optional<QString>(QStringLiteral("Zweites Gerät · 🔑")));
        // Another service keeps its own items.
        QCOMPARE(AgentKeychainStore("com.brantel.kestro.other").read(m_account), std::nullopt);
        store.remove(m_account);
        QCOMPARE(store.read(m_account), std::nullopt);
        store.remove(m_account); // removing what is not there is no error
    }

    void aMissingAccountReadsAsNothing() {
        QCOMPARE(AgentKeychainStore(m_service).read(QStringLiteral("never-stored")), std::nullopt);
    }

    void aValueWithoutAUTF8FormIsRefused() {
        AgentKeychainStore store(m_service);
        const QString loneSurrogate(QChar(0xD800));
        try {
            store.save(loneSurrogate, m_account);
            QFAIL("saved a value that has no UTF-8 form");
        } catch (const AgentSecretStoreError& error) {
            QCOMPARE(error.errorCase(), AgentSecretStoreError::Case::encodingFailed);
        }
    }
};

QTEST_GUILESS_MAIN(AgentKeychainStoreTests)
#include "AgentKeychainStoreTests.moc"
