#pragma once
// Lets the desktop's "please end" signals (SIGTERM at logout, SIGINT, SIGHUP) quit the
// application the normal way, so the quit hook stops the runtime.

class QCoreApplication;

namespace kestro::companion {

void quitOnTerminationSignals(QCoreApplication& application);

} // namespace kestro::companion
