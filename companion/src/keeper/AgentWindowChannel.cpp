#include "AgentWindowChannel.h"

#include "AgentChannel.h"
#include "AgentPrivateFolder.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>

namespace kestro::companion {

struct AgentWindowChannel::Window {
    std::unique_ptr<AgentChannelPeer> peer;
    qint64 sequence = 0;
};

AgentWindowChannel::AgentWindowChannel(AgentKeeper& keeper, QObject* parent)
    : QObject(parent), m_keeper(keeper) {
    connect(&m_server, &QLocalServer::newConnection, this, &AgentWindowChannel::accept);
    connect(&m_keeper.settings(), &AgentLaunchSettings::changed, this, [this] { markChanged(settingsArea); });
    connect(&m_keeper.token(), &AgentTokenKeeper::tokenChanged, this, [this] { markChanged(tokenArea); });
    connect(&m_keeper.token(), &AgentTokenKeeper::storageChanged, this, [this] { markChanged(tokenArea); });
    connect(&m_keeper.runtime(), &AgentRuntimeSupervisor::changed, this,
            [this] { markChanged(runtimeArea); });
    connect(&m_keeper.desktop(), &AgentDesktopLife::changed, this, [this] { markChanged(desktopArea); });
    connect(&m_keeper.banner(), &AgentBanner::changed, this, [this] { markChanged(bannerArea); });
    // Log lines go at once, in order, after whatever changed before them.
    connect(&m_keeper.log(), &AgentSessionLog::appended, this, [this] {
        flush();
        broadcast(channel::kLogLine, {{QStringLiteral("line"), m_keeper.log().lines().constLast()}});
    });
}

AgentWindowChannel::~AgentWindowChannel() {
    m_windows.clear();
    m_server.close();
}

QString AgentWindowChannel::listen(const QString& path) {
    if (const QString problem = privateFolderProblem(QFileInfo(path).path()); !problem.isEmpty())
        return problem;
    QLocalServer::removeServer(path);
    if (!m_server.listen(path)) return m_server.errorString();
    return {};
}

void AgentWindowChannel::accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(nullptr);
        auto peer = std::make_unique<AgentChannelPeer>(std::unique_ptr<QLocalSocket>(socket));
        if (int(m_windows.size()) >= kMaximumWindows) {
            peer->close(QStringLiteral("too many windows"));
            continue;
        }
        auto window = std::make_unique<Window>(Window{.peer = std::move(peer)});
        Window& added = *window;
        connect(added.peer.get(), &AgentChannelPeer::received, this,
                [this, &added](const QJsonObject& message) { perform(added, message); });
        connect(added.peer.get(), &AgentChannelPeer::closed, this, [this, &added] { drop(added); });
        m_windows.push_back(std::move(window));
        sendSnapshot(added);
        emit windowCountChanged();
    }
}

void AgentWindowChannel::drop(Window& window) {
    // Closed peers may be met while sending (a send can close one); they are removed once control
    // is back in the event loop, outside every loop over the windows and every signal of theirs.
    QTimer::singleShot(0, this, [this, gone = &window] {
        const auto found =
            std::find_if(m_windows.begin(), m_windows.end(),
                         [&](const std::unique_ptr<Window>& each) { return each.get() == gone; });
        if (found == m_windows.end()) return;
        m_windows.erase(found);
        emit windowCountChanged();
    });
}

void AgentWindowChannel::raiseWindows() {
    broadcast(channel::kRaise);
}

// Sending --------------------------------------------------------------------------------------

void AgentWindowChannel::send(Window& window, const char* type, QJsonObject message) {
    message.insert(QStringLiteral("seq"), double(++window.sequence));
    message.insert(QStringLiteral("type"), QLatin1String(type));
    window.peer->send(message);
}

void AgentWindowChannel::broadcast(const char* type, const QJsonObject& message) {
    for (const auto& window : m_windows)
        send(*window, type, message);
}

void AgentWindowChannel::sendSnapshot(Window& window) {
    send(window, channel::kHello, {{QStringLiteral("version"), channel::kVersion}});
    for (const Area area : {settingsArea, tokenArea, runtimeArea, desktopArea, bannerArea})
        sendArea(window, area);
    send(window, channel::kLogReset);
    for (const QString& line : m_keeper.log().lines())
        send(window, channel::kLogLine, {{QStringLiteral("line"), line}});
    send(window, channel::kReady);
}

void AgentWindowChannel::sendArea(Window& window, Area area) {
    const auto values = [](const QJsonObject& object) {
        return QJsonObject{{QStringLiteral("values"), object}};
    };
    switch (area) {
    case settingsArea: {
        const AgentLaunchSettings& settings = m_keeper.settings();
        QJsonObject fields{{QStringLiteral("validationMessage"), settings.validationMessage()},
                           {QStringLiteral("validationField"), settings.validationField()}};
        for (const QString& name : AgentLaunchSettings::fieldNames())
            fields.insert(name, settings.field(name));
        send(window, channel::kSettings, values(fields));
        break;
    }
    case tokenArea:
        send(window, channel::kToken,
             values({{QStringLiteral("maskedToken"), m_keeper.token().masked()},
                     {QStringLiteral("note"), m_keeper.token().note()},
                     {QStringLiteral("storeAdvice"), m_keeper.token().storeAdvice()}}));
        break;
    case runtimeArea: {
        const AgentRuntimeSupervisor& runtime = m_keeper.runtime();
        send(window, channel::kRuntime,
             values({{QStringLiteral("state"), int(runtime.state())},
                     {QStringLiteral("canStart"), runtime.canStart()},
                     {QStringLiteral("canRestart"), runtime.canRestart()},
                     {QStringLiteral("showsStop"), runtime.showsStop()},
                     {QStringLiteral("pairLink"), runtime.pairLink()},
                     {QStringLiteral("hasPairLink"), runtime.hasPairLink()},
                     {QStringLiteral("pairLinkText"), runtime.pairLinkText()},
                     {QStringLiteral("pairPageURL"), runtime.pairPageURL().toString()},
                     {QStringLiteral("hasPairPage"), runtime.hasPairPage()},
                     {QStringLiteral("pairImageURL"), runtime.pairImageURL().toString()},
                     {QStringLiteral("codexVersion"), runtime.codexVersion()},
                     {QStringLiteral("diagnostic"), runtime.diagnostic()},
                     {QStringLiteral("machineSummary"), runtime.machineSummary()},
                     {QStringLiteral("lastEvent"), runtime.lastEvent()},
                     {QStringLiteral("down"), runtime.isDown()},
                     {QStringLiteral("downReason"), runtime.downReason()},
                     {QStringLiteral("nextStep"), runtime.nextStep()},
                     {QStringLiteral("nextStepField"), runtime.nextStepField()},
                     {QStringLiteral("codexMissing"), runtime.codexMissing()},
                     {QStringLiteral("codexAdvice"), runtime.codexAdvice()}}));
        break;
    }
    case desktopArea:
        send(window, channel::kDesktop,
             values({{QStringLiteral("startsAtLogin"), m_keeper.desktop().startsAtLogin()},
                     {QStringLiteral("hasTray"), m_keeper.desktop().hasTray()}}));
        break;
    case bannerArea:
        send(window, channel::kBanner, {{QStringLiteral("message"), m_keeper.banner().message()}});
        break;
    }
}

void AgentWindowChannel::markChanged(Area area) {
    if (m_changed == 0) QTimer::singleShot(0, this, &AgentWindowChannel::flush);
    m_changed |= area;
}

void AgentWindowChannel::flush() {
    const unsigned changed = std::exchange(m_changed, 0u);
    for (const Area area : {settingsArea, tokenArea, runtimeArea, desktopArea, bannerArea})
        if ((changed & area) != 0)
            for (const auto& window : m_windows)
                sendArea(*window, area);
}

// Requests -------------------------------------------------------------------------------------

void AgentWindowChannel::perform(Window& window, const QJsonObject& request) {
    const QJsonValue id = request.value(QStringLiteral("id"));
    if (!id.isDouble()) {
        window.peer->close(QStringLiteral("a request without an id"));
        return;
    }
    const QString error = performAction(request);
    // What the request changed reaches the window before its answer.
    flush();
    QJsonObject reply{{QStringLiteral("id"), id}};
    if (!error.isEmpty()) reply.insert(QStringLiteral("error"), error);
    send(window, channel::kReply, reply);
}

QString AgentWindowChannel::performAction(const QJsonObject& request) {
    const QString name = request.value(QStringLiteral("request")).toString();
    AgentRuntimeSupervisor& runtime = m_keeper.runtime();
    if (name == QLatin1String(channel::kStart)) {
        runtime.start();
    } else if (name == QLatin1String(channel::kStop)) {
        runtime.stop();
    } else if (name == QLatin1String(channel::kRestart)) {
        runtime.restart();
    } else if (name == QLatin1String(channel::kSet)) {
        const QJsonValue value = request.value(QStringLiteral("value"));
        if (!value.isString()) return QStringLiteral("A setting's value is a text.");
        if (!m_keeper.settings().setField(request.value(QStringLiteral("field")).toString(),
                                          value.toString()))
            return QStringLiteral("There is no such setting.");
    } else if (name == QLatin1String(channel::kCopyToken)) {
        m_keeper.copyToken();
    } else if (name == QLatin1String(channel::kRegenerateToken)) {
        m_keeper.regenerateToken();
    } else if (name == QLatin1String(channel::kCopyPairLink)) {
        m_keeper.copyPairLink();
    } else if (name == QLatin1String(channel::kOpenPairingPage)) {
        m_keeper.openPairingPage();
    } else if (name == QLatin1String(channel::kRevalidate)) {
        m_keeper.settings().revalidate();
        m_keeper.desktop().refresh();
    } else if (name == QLatin1String(channel::kRetrySecretStore)) {
        m_keeper.retrySecretStore();
    } else if (name == QLatin1String(channel::kQuit)) {
        // After the reply has gone out.
        QMetaObject::invokeMethod(this, &AgentWindowChannel::quitRequested, Qt::QueuedConnection);
    } else if (name == QLatin1String(channel::kSetStartsAtLogin)) {
        const QJsonValue enabled = request.value(QStringLiteral("enabled"));
        if (!enabled.isBool()) return QStringLiteral("Start at login is on or off.");
        m_keeper.desktop().setStartsAtLogin(enabled.toBool());
    } else {
        return QStringLiteral("There is no such request.");
    }
    return {};
}

} // namespace kestro::companion
