#include "AgentBanner.h"

#include <QTimer>

namespace kestro::companion {

void AgentBanner::show(const QString& message) {
    setMessage(message);
    // Only the newest banner's own timer clears it, also when an older one showed the same text.
    const quint64 serial = ++m_serial;
    QTimer::singleShot(kMilliseconds, this, [this, serial] {
        if (serial == m_serial) setMessage(QString());
    });
}

void AgentBanner::setMessage(const QString& message) {
    if (message == m_message) return;
    m_message = message;
    emit changed();
}

} // namespace kestro::companion
