// Start at login on macOS: a per-user launch agent that launchd runs at login.

#include "AgentLoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kestro::companion {

namespace {

class LaunchAgent final : public AgentLoginItem {
  public:
    explicit LaunchAgent(QString program)
        : m_program(std::move(program)),
          m_path(QDir::homePath() + QStringLiteral("/Library/LaunchAgents/com.brantel.kestro.agent.plist")) {}

    bool isEnabled() const override { return QFile::exists(m_path); }

    QString setEnabled(bool enabled) override {
        if (!enabled) {
            QFile agent(m_path);
            return !agent.exists() || agent.remove() ? QString() : agent.errorString();
        }
        QDir().mkpath(QFileInfo(m_path).path());
        QSaveFile agent(m_path);
        if (!agent.open(QIODevice::WriteOnly)) return agent.errorString();
        const QString program = m_program.toHtmlEscaped();
        agent.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                   "<plist version=\"1.0\"><dict>\n"
                                   "<key>Label</key><string>com.brantel.kestro.agent</string>\n"
                                   "<key>ProgramArguments</key><array><string>%1</string>"
                                   "<string>--%2</string></array>\n"
                                   "<key>RunAtLoad</key><true/>\n"
                                   "<key>ProcessType</key><string>Interactive</string>\n"
                                   "</dict></plist>\n")
                        .arg(program, QLatin1String(kHiddenSwitch))
                        .toUtf8());
        return agent.commit() ? QString() : agent.errorString();
    }

  private:
    QString m_program;
    QString m_path;
};

} // namespace

std::unique_ptr<AgentLoginItem> systemLoginItem(const QString& program) {
    return std::make_unique<LaunchAgent>(program.isEmpty() ? QCoreApplication::applicationFilePath()
                                                           : program);
}

} // namespace kestro::companion
