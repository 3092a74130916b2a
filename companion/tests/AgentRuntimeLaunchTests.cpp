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
        return {.runtimeVariable = m_folder.filePath("variable/kestro-agent"),
                .resourceFolder = m_folder.filePath("bundle/Resources"),
                .buildTreeRuntime = m_folder.filePath("build/runtime/kestro-agent"),
                .installedRuntimes = {m_folder.filePath("usr/bin/kestro-agent")}};
    }

  private slots:
    // The variable, then what the companion's own installation or build folder carries, then the
    // system's package; nothing relative to the folder it was started in.
    void candidatesComeInTheirOrderAndTheFirstExecutableFileWins() {
        const QString root = m_folder.path();
        const QStringList expected{root + "/variable/kestro-agent",
                                   root + "/bundle/Resources/Runtime/kestro-agent",
                                   root + "/build/runtime/kestro-agent", root + "/usr/bin/kestro-agent"};
        QCOMPARE(runtimeCandidates(search()), expected);
        QCOMPARE(runtimeCandidates({}), QStringList());

        const RuntimeSearch where = search();
        QCOMPARE(locateRuntime(where), std::nullopt);
        makeFile(expected[3], true);
        QCOMPARE(locateRuntime(where), expected[3]);
        // Not executable, or a folder: passed over.
        makeFile(expected[2], false);
        QDir().mkpath(expected[0]);
        QCOMPARE(locateRuntime(where), expected[3]);
        makeFile(m_folder.filePath("build/runtime/kestro-agent"), true);
        QCOMPARE(locateRuntime(where), expected[2]);
        makeFile(expected[1], true);
        QCOMPARE(locateRuntime(where), expected[1]);
        QVERIFY(QDir(expected[0]).removeRecursively());
        makeFile(expected[0], true);
        QCOMPARE(locateRuntime(where), expected[0]);
    }

    void theBuildFoldersRuntimeCountsOnlyInABuildFolder() {
        QDir().mkpath(m_folder.filePath("tree/companion"));
        QCOMPARE(buildTreeRuntime(m_folder.filePath("tree/companion")), std::nullopt);
        makeFile(m_folder.filePath("tree/CMakeCache.txt"), false);
        QCOMPARE(buildTreeRuntime(m_folder.filePath("tree/companion")),
                 m_folder.filePath("tree/runtime/kestro-agent"));
    }

    void theBundledFolderIsBesideTheCompanion() {
#ifdef Q_OS_MACOS
        QCOMPARE(bundledResourceFolder("/Applications/kestro Agent.app/Contents/MacOS"),
                 QStringLiteral("/Applications/kestro Agent.app/Contents/Resources"));
        QCOMPARE(currentRuntimeSearch().installedRuntimes, QStringList());
#else
        QCOMPARE(bundledResourceFolder("/usr/local/bin"), QStringLiteral("/usr/local/share/kestro-agent"));
        // The Debian package's runtime is looked for last.
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
