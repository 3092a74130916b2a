#pragma once
// The window's copy of the pairing token as the keeper shows it (masked, never whole) and where it
// stands with the secret store, with the token's actions sent back to the keeper. GUI thread only.

#include <QJsonObject>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentKeeperLink;

class AgentTokenMirror : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The token comes from the keeper.")
    Q_PROPERTY(QString maskedToken READ maskedToken NOTIFY changed)
    // The token row's help line.
    Q_PROPERTY(QString note READ note NOTIFY changed)
    // While the secret store failed: which store and what to do; else empty.
    Q_PROPERTY(QString storeAdvice READ storeAdvice NOTIFY changed)

  public:
    explicit AgentTokenMirror(AgentKeeperLink& link, QObject* parent = nullptr);

    // The keeper's "token" values.
    void apply(const QJsonObject& values);

    QString maskedToken() const { return m_maskedToken; }
    QString note() const { return m_note; }
    QString storeAdvice() const { return m_storeAdvice; }

    Q_INVOKABLE void copy();
    Q_INVOKABLE void regenerate();
    // Asks the keeper to try the secret store again.
    Q_INVOKABLE void retryStore();

  signals:
    void changed();

  private:
    AgentKeeperLink& m_link;
    QString m_maskedToken;
    QString m_note;
    QString m_storeAdvice;
};

} // namespace kestro::companion
