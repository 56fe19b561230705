#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/SignalWatcher.h"

// SIGTERM and SIGINT reach the callback on the watcher's thread, not the
// default action; once the watcher is gone, the earlier actions are back.
TEST(SignalWatcher, SignalsReachTheCallbackAndTheEarlierActionsComeBack) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction savedTerm {
  }, savedInt{};
  sigaction(SIGTERM, &ignore, &savedTerm);
  sigaction(SIGINT, &ignore, &savedInt);
  {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<int> received;
    std::thread::id callbackThread;
    SignalWatcher watcher([&](int signal) {
      std::lock_guard lock(mutex);
      received.push_back(signal);
      callbackThread = std::this_thread::get_id();
      arrived.notify_all();
    });
    ASSERT_TRUE(watcher.active());
    for (int signal : {SIGTERM, SIGINT}) {
      std::unique_lock lock(mutex);
      const size_t before = received.size();
      lock.unlock();
      raise(signal);
      lock.lock();
      // A bound against a hang only: the byte is written before raise returns.
      arrived.wait_for(lock, std::chrono::seconds(60), [&] { return received.size() > before; });
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    EXPECT_NE(callbackThread, std::this_thread::get_id());
  }
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  sigaction(SIGTERM, &savedTerm, nullptr);
  sigaction(SIGINT, &savedInt, nullptr);
}
