// Ending the editor from outside (the desktop session logging out, `kill`,
// Ctrl+C in the terminal it was started from) the same way as its own "Выход":
// the main window is closed, so it asks about an unsaved set and writes
// lentar.ini, instead of the process simply vanishing with the operator's
// settings.
#pragma once

class QWidget;

namespace lentar::app {

// Routes SIGTERM, SIGINT and SIGHUP to window->close() on the interface
// thread. Call once, after the application object exists; the window must
// outlive the event loop.
void CloseOnTerminationSignals(QWidget* window);

}  // namespace lentar::app
