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

// Control characters a desktop entry string can carry only as escapes; any other one cannot be
// written at all.
bool isWritableInAnEntry(QChar c) {
    return (c.unicode() >= 0x20 && c.unicode() != 0x7f) || c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
           c == QLatin1Char('\r');
}

// An argument of the Exec key: quoted when it holds a reserved character, with the characters
// the quoting rule names escaped, then escaped once more as a desktop entry string (where a
// newline, a tab and a carriage return are written as escapes, so the value stays one line).
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
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
        .replace(QLatin1Char('\t'), QStringLiteral("\\t"))
        .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
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
        if (!std::all_of(m_program.begin(), m_program.end(), isWritableInAnEntry))
            return QStringLiteral("The program's path holds a control character that an autostart "
                                  "entry cannot hold: ") +
                   m_program;
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
