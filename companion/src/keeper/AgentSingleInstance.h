#pragma once
// One keeper per user. The first instance holds a lock on a file in the keeper's private folder
// (AgentPrivateFolder) and listens on a socket there; a later launch finds it there, asks it to
// show its window (or, when launched hidden, only makes sure it runs) and ends, touching nothing
// else. The lock goes with the process that held it, however it ended, so nothing a crashed
// instance left behind counts; a lock file that is damaged (not a plain file: a folder, a link) is
// replaced. GUI thread only; needs the application object.

#include "platform/FileDescriptor.h"

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace kestro::companion {

class AgentSingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        first,      // this is the one instance: it holds the lock and listens now
        handedOver, // another instance runs and has the request: end with status 0
        failed      // neither could be settled in time: end with an error (`problem` says why)
    };

    // The lock and socket live in `folder`, which must be private (the keeper's own).
    explicit AgentSingleInstance(QString folder, QObject* parent = nullptr);
    ~AgentSingleInstance() override;

    QString socketPath() const;
    QString lockPath() const;
    // Why the last claim failed.
    QString problem() const { return m_problem; }

    // Becomes the one instance, or hands `showWindow` (false: only "keep running") to the one
    // that runs. Waits at most a few seconds for an instance that is starting.
    Claim claim(bool showWindow);

    // What a second launch says to the first.
    static constexpr char kShow[] = "show\n";
    static constexpr char kKeepRunning[] = "run\n";

  signals:
    // Another launch asked for the window.
    void showRequested();

  private:
    bool lock();
    bool handOver(bool showWindow);
    void serve();

    QString m_folder;
    kestro::FileDescriptor m_lock;
    QLocalServer m_server;
    QString m_problem;
};

} // namespace kestro::companion
