#pragma once
// The short message the window shows at its top ("Pair link copied"): each one for 1.8 s, and a
// newer one is never cut short by an older one's timer. GUI thread only.

#include <QObject>
#include <QString>

namespace kestro::companion {

class AgentBanner : public QObject {
    Q_OBJECT

  public:
    static constexpr int kMilliseconds = 1800;

    using QObject::QObject;

    QString message() const { return m_message; }
    void show(const QString& message);

  signals:
    void changed();

  private:
    void setMessage(const QString& message);

    QString m_message;
    quint64 m_serial = 0;
};

} // namespace kestro::companion
