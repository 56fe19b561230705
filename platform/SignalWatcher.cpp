#include "platform/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

// The pipe of the watcher that exists; -1 while there is none. A byte 0 on
// it ends the watcher's thread.
int g_pipe[2] = {-1, -1};
struct sigaction g_earlier[2];
constexpr int kSignals[] = {SIGINT, SIGTERM};

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a wake-up; the byte may be dropped.
  static_cast<void>(write(g_pipe[1], &byte, 1));
  errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(Callback callback) : callback_(std::move(callback)) {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return;
  }
  // The reading end blocks; only the handlers' end must never wait.
  fcntl(g_pipe[0], F_SETFL, 0);
  thread_ = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &action, &g_earlier[i]);
}

SignalWatcher::~SignalWatcher() {
  if (!thread_.joinable()) return;
  for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &g_earlier[i], nullptr);
  const unsigned char end = 0;
  while (write(g_pipe[1], &end, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void SignalWatcher::Watch() {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t got = read(g_pipe[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || byte == 0) return;
    callback_(byte);
  }
}
