#pragma once
// A fake runtime for companion tests: a small shell script that records the arguments,
// environment and working folder of each launch, then does what the test asks.

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace kestro::testing {

class FakeRuntime {
  public:
    explicit FakeRuntime(QString folder) : m_folder(std::move(folder)) {}

    QString executable() const { return m_folder + "/runtime/kestro-agent"; }

    // Writes the script; `body` runs after the launch is recorded.
    bool write(const QString& body) const {
        QDir().mkpath(m_folder + "/runtime");
        QDir().mkpath(m_folder + "/launches");
        QFile script(executable());
        if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "dir='%1/launches'\n"
                                    "n=$(ls \"$dir\" | grep -c '^launch\\.')\n"
                                    "printf '%s\\n' \"$@\" > \"$dir/launch.$n\"\n"
                                    "env > \"$dir/env.$n\"\n"
                                    "pwd -P > \"$dir/cwd.$n\"\n")
                         .arg(m_folder)
                         .toUtf8());
        script.write(body.toUtf8());
        script.close();
        return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }

    int launches() const {
        return int(QDir(m_folder + "/launches").entryList({"launch.*"}, QDir::Files).size());
    }

    // The recorded "launch" (arguments), "env" or "cwd" lines of launch `launch` (0 first).
    QStringList launchFile(const QString& kind, int launch) const {
        QFile file(QStringLiteral("%1/launches/%2.%3").arg(m_folder, kind).arg(launch));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // Shell lines printing the runtime's banner with the given "Pair Page: " value.
    static QString banner(const QString& pairPage) {
        return QStringLiteral("echo 'kestro Agent listening on http://0.0.0.0:8787'\n"
                              "echo 'Machine: Studio · IP: 10.0.0.2'\n"
                              "echo 'Runner: Codex · Workdir: /w'\n"
                              "echo 'Token: secret'\n"
                              "echo 'Codex: codex-cli 0.169.0'\n"
                              "echo 'Diagnostic: codex-cli 0.169.0 ready · 0 skills'\n"
                              "echo 'Pair Link: kestro://pair?name=Studio'\n"
                              "echo 'Pair Page: %1'\n")
            .arg(pairPage);
    }

  private:
    QString m_folder;
};

} // namespace kestro::testing
