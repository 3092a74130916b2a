// The launch settings: defaults, the stored JSON form, validation, and the token's forms.

#include "AgentLaunchConfiguration.h"
#include "AgentPairToken.h"
#include "AgentPlatformTexts.h"
#include "AgentSecretStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestro::companion;

class AgentLaunchConfigurationTests : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_folder;

    AgentLaunchConfiguration valid() const {
        return {.machineName = QStringLiteral("Studio"),
                .host = QStringLiteral("0.0.0.0"),
                .port = QStringLiteral("8787"),
                .advertisedHost = QString(),
                .workingDirectory = m_folder.path()};
    }

  private slots:
    void defaultsNameTheComputerOrFallBack() {
        const auto named = makeDefaultConfiguration(QStringLiteral("Studio"), QStringLiteral("/home/me"));
        QCOMPARE(named.machineName, QStringLiteral("Studio"));
        QCOMPARE(named.host, QStringLiteral("0.0.0.0"));
        QCOMPARE(named.port, QStringLiteral("8787"));
        QCOMPARE(named.advertisedHost, QString());
        QCOMPARE(named.workingDirectory, QStringLiteral("/home/me"));
        QCOMPARE(makeDefaultConfiguration(std::nullopt, QStringLiteral("/h")).machineName,
                 platformTexts().defaultMachineName);
        // This computer's defaults are computed once: the same object every time.
        QCOMPARE(&defaultConfiguration(), &defaultConfiguration());
        QCOMPARE(defaultConfiguration().workingDirectory, QString::fromLocal8Bit(qgetenv("HOME")));
    }

    void theStoredFormHasExactlyFiveStringMembers() {
        AgentLaunchConfiguration configuration = valid();
        configuration.advertisedHost = QStringLiteral("studio.tailnet");
        const QByteArray json = configuration.toJson();
        QCOMPARE(AgentLaunchConfiguration::fromJson(json), std::optional(configuration));
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QCOMPARE(object.keys(),
                 (QStringList{"advertisedHost", "host", "machineName", "port", "workingDirectory"}));
        // Other members are ignored; order carries no meaning.
        QVERIFY(AgentLaunchConfiguration::fromJson(R"({"workingDirectory":"/w","port":"1","host":"h",
            "machineName":"m","advertisedHost":"","extra":3})"));
        // A chosen Codex program is a sixth member, which older versions ignore; one that is not
        // a text is not read.
        configuration.codexPath = QStringLiteral("/opt/codex/bin/codex");
        const QJsonObject withCodex = QJsonDocument::fromJson(configuration.toJson()).object();
        QCOMPARE(withCodex.value("codexPath").toString(), configuration.codexPath);
        QCOMPARE(AgentLaunchConfiguration::fromJson(configuration.toJson()), std::optional(configuration));
        QCOMPARE(AgentLaunchConfiguration::fromJson(R"({"workingDirectory":"/w","port":"1","host":"h",
            "machineName":"m","advertisedHost":"","codexPath":7})")
                     ->codexPath,
                 QString());
    }

    void aRecordMissingAMemberOrWithAWrongTypeIsNotRead() {
        QVERIFY(!AgentLaunchConfiguration::fromJson(
            R"({"machineName":"m","host":"h","port":"1","workingDirectory":"/w"})"));
        QVERIFY(!AgentLaunchConfiguration::fromJson(
            R"({"machineName":"m","host":"h","port":8787,"advertisedHost":"","workingDirectory":"/w"})"));
        QVERIFY(!AgentLaunchConfiguration::fromJson("not json"));
        QVERIFY(!AgentLaunchConfiguration::fromJson("[]"));
    }

    void portsAreUnsigned16BitNumbersOtherThanZero_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "8787" << true;
        QTest::newRow("plus") << "+8787" << true;
        QTest::newRow("leading zeros") << "0080" << true;
        QTest::newRow("largest") << "65535" << true;
        QTest::newRow("leading space") << " 8787" << false;
        QTest::newRow("trailing space") << "8787 " << false;
        QTest::newRow("zero") << "0" << false;
        QTest::newRow("minus zero") << "-0" << false;
        QTest::newRow("negative") << "-80" << false;
        QTest::newRow("too large") << "65536" << false;
        QTest::newRow("huge") << "99999999999999999999999" << false;
        QTest::newRow("letter") << "87a7" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("sign only") << "+" << false;
    }

    void portsAreUnsigned16BitNumbersOtherThanZero() {
        QFETCH(QString, port);
        QFETCH(bool, accepted);
        AgentLaunchConfiguration configuration = valid();
        configuration.port = port;
        QCOMPARE(validationMessage(configuration).isEmpty(), accepted);
        if (!accepted)
            QCOMPARE(validationMessage(configuration),
                     QStringLiteral("Port must be a valid number like 8787."));
    }

    void validationGivesTheFirstFailingMessageInOrder() {
        AgentLaunchConfiguration configuration = valid();
        QCOMPARE(validationMessage(configuration), QString());

        configuration.workingDirectory = QStringLiteral(" \n\t");
        configuration.machineName = QStringLiteral("  ");
        configuration.port = QStringLiteral("x");
        QCOMPARE(
            validationMessage(configuration),
            QStringLiteral("Choose the project or default workspace that kestro Agent should open first."));

        QFile file(m_folder.filePath("a-file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        configuration.workingDirectory = file.fileName();
        QCOMPARE(validationMessage(configuration), platformTexts().workspaceMissing);
        configuration.workingDirectory = m_folder.filePath("missing");
        QCOMPARE(validationMessage(configuration), platformTexts().workspaceMissing);

        configuration.workingDirectory = QStringLiteral("  ") + m_folder.path() + QStringLiteral(" \n");
        QCOMPARE(validationMessage(configuration), QStringLiteral("Port must be a valid number like 8787."));
        configuration.port = QStringLiteral("8787");
        QCOMPARE(validationMessage(configuration), platformTexts().machineNameMissing);
        // Host and advertised host are never checked.
        configuration.machineName = QStringLiteral("Studio");
        configuration.host = QStringLiteral("not an address");
        configuration.advertisedHost = QStringLiteral(" ?? ");
        QCOMPARE(validationMessage(configuration), QString());
    }

    void tokensAreMaskedByCharactersNotBytes() {
        QCOMPARE(maskedToken(QStringLiteral("abc")), QStringLiteral("abc"));
        QCOMPARE(maskedToken(QStringLiteral("123456789012")), QStringLiteral("123456789012"));
        QCOMPARE(maskedToken(QStringLiteral("1234567890123")), QStringLiteral("123456••••••0123"));
        QCOMPARE(maskedToken(QStringLiteral("5f0c1d2e3f405162738495a6b7c8d9e0")),
                 QStringLiteral("5f0c1d••••••d9e0"));
        // A family emoji is one character: twelve of them are shown whole, thirteen are masked.
        const QString family = QStringLiteral("👨‍👩‍👧");
        QCOMPARE(maskedToken(family.repeated(12)), family.repeated(12));
        QCOMPARE(maskedToken(family.repeated(13)),
                 family.repeated(6) + QStringLiteral("••••••") + family.repeated(4));
    }

    void newTokensHaveTheRuntimesForm() {
        static const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
        const QString token = newPairToken();
        QVERIFY2(form.match(token).hasMatch(), qPrintable(token));
        QVERIFY(token != newPairToken());
        QCOMPARE(token.at(12), QLatin1Char('4')); // version 4
    }

    void secretStoreErrorsDescribeThemselves() {
        using Case = AgentSecretStoreError::Case;
        QCOMPARE(AgentSecretStoreError(Case::saveFailed, -25299).description(),
                 platformTexts().saveFailed.arg(QStringLiteral("-25299")));
        QCOMPARE(AgentSecretStoreError(Case::loadFailed, 7).description(), platformTexts().loadFailed.arg(7));
        QCOMPARE(AgentSecretStoreError(Case::deleteFailed, 2).description(),
                 platformTexts().deleteFailed.arg(2));
        QCOMPARE(AgentSecretStoreError(Case::encodingFailed).description(),
                 QStringLiteral("kestro Agent could not encode a value for secure storage."));
    }
};

QTEST_GUILESS_MAIN(AgentLaunchConfigurationTests)
#include "AgentLaunchConfigurationTests.moc"
