// SIGINT and SIGTERM turned into calls on a thread of their own, so that the
// program can end its work in order instead of being cut off. The handlers
// only write the signal's number to a pipe (all a handler may safely do); the
// watcher's thread reads it and calls the callback. Programs started later
// get the default actions back, as every caught signal is reset by exec.
//
// One watcher at a time per process. Create and destroy it on one thread.
#pragma once

#include <functional>
#include <thread>

class SignalWatcher {
 public:
  // Called on the watcher's thread with SIGINT or SIGTERM, once per signal
  // received (signals that arrive together may be merged).
  using Callback = std::function<void(int signal)>;

  // Installs the handlers and starts the thread. When the pipe cannot be
  // made, nothing is installed and the signals keep their actions.
  explicit SignalWatcher(Callback callback);
  // Restores the earlier actions of both signals and ends the thread.
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  bool active() const { return thread_.joinable(); }

 private:
  void Watch();

  Callback callback_;
  std::thread thread_;
};
