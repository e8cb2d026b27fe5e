#include "app/termination.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace lentar::app {

#ifndef _WIN32
namespace {

// A signal handler may do almost nothing: it writes one byte into a socket
// pair, and the event loop reads it and does the real work.
int signalSockets[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalSockets[1], &byte, 1);
}

}  // namespace

void EndOnTerminationSignals(QObject* context, std::function<void()> end) {
  if (signalSockets[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) return;
  auto* notifier = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [end = std::move(end)] {
    char bytes[16];
    [[maybe_unused]] const ssize_t got = ::read(signalSockets[0], bytes, sizeof bytes);
    end();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}
#else
void EndOnTerminationSignals(QObject*, std::function<void()>) {}
#endif

}  // namespace lentar::app
