#pragma once
// The window's texts that name this kind of computer (AgentPlatformTexts), and the version, for
// QML. Fixed for the life of the process.

#include "AgentPlatformTexts.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString tagline READ tagline CONSTANT)
    Q_PROPERTY(QString configurationTitle READ configurationTitle CONSTANT)
    Q_PROPERTY(QString workspacePlaceholder READ workspacePlaceholder CONSTANT)
    Q_PROPERTY(QString machineNamePlaceholder READ machineNamePlaceholder CONSTANT)
    Q_PROPERTY(QString machineNameHelp READ machineNameHelp CONSTANT)
    Q_PROPERTY(QString previewNote READ previewNote CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)

  public:
    using QObject::QObject;

    QString tagline() const { return platformTexts().tagline; }
    QString configurationTitle() const { return platformTexts().configurationTitle; }
    QString workspacePlaceholder() const { return platformTexts().workspacePlaceholder; }
    QString machineNamePlaceholder() const { return platformTexts().defaultMachineName; }
    QString machineNameHelp() const { return platformTexts().machineNameHelp; }
    QString previewNote() const { return platformTexts().previewNote; }
    QString version() const { return QStringLiteral(KESTRO_VERSION); }
};

} // namespace kestro::companion
