#pragma once
// One companion per user. The first instance holds a lock file and listens on a local socket in
// the per-user runtime folder (both private to the user); a later launch finds it there, asks it
// to show its window (or, when launched hidden, only makes sure it runs) and ends, touching
// nothing else. A lock or socket left by a crashed instance is taken over, never obeyed. GUI
// thread only; needs the application object.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace kestro::companion {

class AgentSingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        first,      // this is the one instance: it listens now
        handedOver, // another instance runs and has the request: end with status 0
        failed      // neither could be settled in time: end with an error
    };

    // The lock and socket live in `folder` (the per-user runtime folder by default).
    explicit AgentSingleInstance(QString folder = defaultFolder(), QObject* parent = nullptr);
    ~AgentSingleInstance() override;

    static QString defaultFolder();
    QString socketPath() const;

    // Becomes the one instance, or hands `showWindow` (false: only "keep running") to the one
    // that runs. Waits at most a few seconds for an instance that is starting or ending.
    Claim claim(bool showWindow);

    // What a second launch says to the first.
    static constexpr char kShow[] = "show\n";
    static constexpr char kKeepRunning[] = "run\n";

  signals:
    // Another launch asked for the window.
    void showRequested();

  private:
    bool handOver(bool showWindow);
    void serve();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace kestro::companion
