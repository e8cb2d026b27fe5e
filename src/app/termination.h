// Ending the editor from outside (the desktop session logging out, `kill`,
// Ctrl+C in the terminal it was started from): the editor writes lentar.ini
// and keeps an unsaved set as a recovery copy, asks nothing (nobody may be
// there to answer), and ends in a bounded time, instead of the process
// simply vanishing with the operator's work.
#pragma once

#include <functional>

class QObject;

namespace lentar::app {

// Routes SIGTERM, SIGINT and SIGHUP to end() on the interface thread. Call
// once, after the application object exists; context must outlive the event
// loop.
void EndOnTerminationSignals(QObject* context, std::function<void()> end);

}  // namespace lentar::app
