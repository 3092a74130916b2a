// Finding the runtime and what it is started with.

#include "AgentRuntimeLaunch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestro::companion;

namespace {

void makeFile(const QString& path, bool executable) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class AgentRuntimeLaunchTests : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_folder;

    RuntimeSearch search() const {
        return {.resourceFolder = m_folder.filePath("bundle/Resources"),
                .installedRuntimes = {m_folder.filePath("usr/bin/kestro-agent")},
                .runtimeVariable = m_folder.filePath("variable/kestro-agent"),
                .currentDirectory = m_folder.filePath("cwd"),
                .homeDirectory = m_folder.filePath("home")};
    }

  private slots:
    void candidatesComeInTheirOrder() {
        const QString root = m_folder.path();
        const QStringList expected{
            root + "/bundle/Resources/Runtime/kestro-agent",
            root + "/usr/bin/kestro-agent",
            root + "/variable/kestro-agent",
            root + "/cwd/kestro-runtime/.build/release/kestro-agent",
            root + "/cwd/kestro-runtime/.build/debug/kestro-agent",
            root + "/cwd/kestro-runtime/.build/arm64-apple-macosx/debug/kestro-agent",
            root + "/home/Desktop/kestro/kestro-runtime/.build/release/kestro-agent",
            root + "/home/Desktop/kestro/kestro-runtime/.build/debug/kestro-agent",
            root + "/home/Desktop/kestro/kestro-runtime/.build/arm64-apple-macosx/debug/kestro-agent",
            root + "/cwd/build/release/runtime/kestro-agent",
            root + "/cwd/build/ci/runtime/kestro-agent",
            root + "/cwd/build/debug/runtime/kestro-agent",
        };
        QCOMPARE(runtimeCandidates(search()), expected);
        RuntimeSearch bare = search();
        bare.resourceFolder.reset();
        bare.installedRuntimes.clear();
        bare.runtimeVariable.reset();
        QCOMPARE(runtimeCandidates(bare), expected.mid(3));
    }

    void theFirstExecutableFileWins() {
        const RuntimeSearch where = search();
        QCOMPARE(locateRuntime(where), std::nullopt);
        makeFile(m_folder.filePath("cwd/build/debug/runtime/kestro-agent"), true);
        QCOMPARE(locateRuntime(where), m_folder.filePath("cwd/build/debug/runtime/kestro-agent"));
        // Not executable, or a folder: passed over.
        makeFile(m_folder.filePath("home/Desktop/kestro/kestro-runtime/.build/release/kestro-agent"), false);
        QDir().mkpath(m_folder.filePath("variable/kestro-agent"));
        QCOMPARE(locateRuntime(where), m_folder.filePath("cwd/build/debug/runtime/kestro-agent"));
        makeFile(m_folder.filePath("cwd/kestro-runtime/.build/debug/kestro-agent"), true);
        QCOMPARE(locateRuntime(where), m_folder.filePath("cwd/kestro-runtime/.build/debug/kestro-agent"));
        // An installed runtime comes before the variable's.
        makeFile(m_folder.filePath("usr/bin/kestro-agent"), true);
        QCOMPARE(locateRuntime(where), m_folder.filePath("usr/bin/kestro-agent"));
        makeFile(m_folder.filePath("bundle/Resources/Runtime/kestro-agent"), true);
        QCOMPARE(locateRuntime(where), m_folder.filePath("bundle/Resources/Runtime/kestro-agent"));
    }

    void theBundledFolderIsBesideTheCompanion() {
#ifdef Q_OS_MACOS
        QCOMPARE(bundledResourceFolder("/Applications/kestro Agent.app/Contents/MacOS"),
                 QStringLiteral("/Applications/kestro Agent.app/Contents/Resources"));
        QCOMPARE(currentRuntimeSearch().installedRuntimes, QStringList());
#else
        QCOMPARE(bundledResourceFolder("/usr/local/bin"), QStringLiteral("/usr/local/share/kestro-agent"));
        // The Debian package's runtime is looked for right after the one beside the companion.
        QCOMPARE(currentRuntimeSearch().installedRuntimes, QStringList{"/usr/bin/kestro-agent"});
#endif
    }

    void argumentsAreElevenOrThirteen() {
        AgentLaunchConfiguration configuration{.machineName = "Studio Mac",
                                               .host = "0.0.0.0",
                                               .port = "+8787",
                                               .advertisedHost = " \t",
                                               .workingDirectory = "/ignored"};
        const QStringList eleven = launchArguments(configuration, "tok", "/work/dir");
        QCOMPARE(eleven, (QStringList{"--host", "0.0.0.0", "--port", "+8787", "--token", "tok", "--name",
                                      "Studio Mac", "--working-dir", "/work/dir", "--no-open-pair-page"}));
        configuration.advertisedHost = "  100.64.0.7 \n";
        const QStringList thirteen = launchArguments(configuration, "tok", "/work/dir");
        QCOMPARE(thirteen.size(), 13);
        QCOMPARE(thirteen.mid(11), (QStringList{"--advertise-host", "100.64.0.7"}));
    }

    void theSearchPathGoesInFrontOfTheInheritedOne() {
        QProcessEnvironment inherited;
        inherited.insert("PATH", "/home/me/bin:/usr/bin");
        inherited.insert("LANG", "C.UTF-8");
        inherited.insert("PWD", "/elsewhere");
        const QProcessEnvironment environment = launchEnvironment(inherited, "/work/dir");
        QCOMPARE(environment.value("PATH"),
                 QStringLiteral(
                     "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:/home/me/bin:/usr/bin"));
        QCOMPARE(environment.value("PWD"), QStringLiteral("/work/dir"));
        QCOMPARE(environment.value("LANG"), QStringLiteral("C.UTF-8"));

        QProcessEnvironment bare;
        QCOMPARE(launchEnvironment(bare, "/w").value("PATH"),
                 QStringLiteral("/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:"));
    }

    void theWorkingDirectoryIsResolved() {
        const QString real = m_folder.filePath("real");
        QDir().mkpath(real + "/inner");
        QVERIFY(QFile::link(real, m_folder.filePath("link")));
        const QString canonicalReal = QFileInfo(real).canonicalFilePath();
        QCOMPARE(launchWorkingDirectory(m_folder.filePath("link")), canonicalReal);
        QCOMPARE(launchWorkingDirectory("  " + m_folder.filePath("real/inner/..") + "/ \n"), canonicalReal);
        QCOMPARE(launchWorkingDirectory("/no/such/./place/../dir"), QStringLiteral("/no/such/dir"));
    }
};

QTEST_GUILESS_MAIN(AgentRuntimeLaunchTests)
#include "AgentRuntimeLaunchTests.moc"
