// Start at login on Linux: an entry in the user's XDG autostart folder
// ($XDG_CONFIG_HOME/autostart), which desktop sessions run at login.

#include "AgentLoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace kestro::companion {

namespace {

// An argument of the Exec key: quoted when it holds a reserved character, with the characters
// the quoting rule names escaped, then escaped once more as a desktop entry string.
QString execArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString text = argument;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (const QChar c : text) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        text = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

class AutostartEntry final : public AgentLoginItem {
  public:
    explicit AutostartEntry(QString program)
        : m_program(std::move(program)),
          m_path(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 QStringLiteral("/autostart/com.brantel.kestro.agent.desktop")) {}

    bool isEnabled() const override { return QFile::exists(m_path); }

    QString setEnabled(bool enabled) override {
        if (!enabled) {
            QFile entry(m_path);
            return !entry.exists() || entry.remove() ? QString() : entry.errorString();
        }
        if (!QDir().mkpath(QFileInfo(m_path).path()))
            return QStringLiteral("Cannot create ") + QFileInfo(m_path).path();
        QSaveFile entry(m_path);
        if (!entry.open(QIODevice::WriteOnly)) return entry.errorString();
        const QString text = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=kestro Agent\n"
                                            "Comment=Keeps the phone bridge running in the tray\n"
                                            "Exec=%1 --%2\n"
                                            "Icon=com.brantel.kestro.agent\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(execArgument(m_program), QLatin1String(kHiddenSwitch));
        entry.write(text.toUtf8());
        return entry.commit() ? QString() : entry.errorString();
    }

  private:
    QString m_program;
    QString m_path;
};

} // namespace

std::unique_ptr<AgentLoginItem> systemLoginItem(const QString& program) {
    return std::make_unique<AutostartEntry>(program.isEmpty() ? QCoreApplication::applicationFilePath()
                                                              : program);
}

} // namespace kestro::companion
