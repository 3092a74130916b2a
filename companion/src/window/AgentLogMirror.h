#pragma once
// The window's copy of the session log: the keeper's lines, as a list model with the same
// capacity, rows appended as lines arrive. GUI thread only.

#include "AgentSessionLog.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentLogMirror : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session log comes from the keeper.")
    // A list model with one role, "line". (A QObject to QML, whose tools know no item model type.)
    Q_PROPERTY(QObject* lines READ lines CONSTANT)

  public:
    using QObject::QObject;

    QObject* lines() { return &m_lines; }
    AgentSessionLog& log() { return m_lines; }

  private:
    AgentSessionLog m_lines;
};

} // namespace kestro::companion
