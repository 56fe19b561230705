#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageWindow.h"

namespace {

// A list of events appended from several threads.
class Trace {
 public:
  void Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace

TEST(MessageWindow, NullReceiverReceivesNothing) {
  SendMessageTo(nullptr, 1, 2, 3);
  PostMessageTo(nullptr, 1, 2, 3);
  EXPECT_EQ(MessageLoop::PumpPending(), 0);
}

TEST(MessageWindow, SendOnTheOwnerThreadCallsTheHandlerDirectly) {
  std::vector<Message> seen;
  MessageWindow window([&](const Message& m) { seen.push_back(m); });
  EXPECT_EQ(window.owner(), std::this_thread::get_id());
  SendMessageTo(&window, 0x3401, 7, -9);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].id, 0x3401u);
  EXPECT_EQ(seen[0].wParam, 7u);
  EXPECT_EQ(seen[0].lParam, -9);
  EXPECT_EQ(MessageLoop::PumpPending(), 0);
}

TEST(MessageWindow, SendFromAWorkerWaitsForTheHandlerOnTheOwnerThread) {
  Trace trace;
  std::thread::id handlerThread;
  bool done = false;
  MessageWindow window([&](const Message& m) {
    handlerThread = std::this_thread::get_id();
    trace.Add("handled " + std::to_string(m.id));
    done = true;
  });
  std::thread worker([&] {
    SendMessageTo(&window, 5);
    trace.Add("send returned");
  });
  MessageLoop::RunUntil([&] { return done; });
  worker.join();
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  EXPECT_EQ(trace.events(), (std::vector<std::string>{"handled 5", "send returned"}));
}

TEST(MessageWindow, PostQueuesAndReturnsAndTheLoopDeliversInArrivalOrder) {
  std::vector<MessageId> seen;
  MessageWindow window([&](const Message& m) { seen.push_back(m.id); });
  std::thread worker([&] {
    for (MessageId id : {1u, 2u, 3u}) PostMessageTo(&window, id);
  });
  worker.join();  // returned although nobody delivered yet
  EXPECT_TRUE(seen.empty());
  PostMessageTo(&window, 4);  // posting on the owner thread queues as well
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(MessageLoop::PumpPending(), 4);
  EXPECT_EQ(seen, (std::vector<MessageId>{1, 2, 3, 4}));
}

TEST(MessageWindow, PumpDeliversOnlyWhatWasQueuedWhenItStarted) {
  std::vector<MessageId> seen;
  MessageWindow* self = nullptr;
  MessageWindow window([&](const Message& m) {
    seen.push_back(m.id);
    if (m.id == 1) PostMessageTo(self, 2);
  });
  self = &window;
  PostMessageTo(&window, 1);
  EXPECT_EQ(MessageLoop::PumpPending(), 1);
  EXPECT_EQ(MessageLoop::PumpPending(), 1);
  EXPECT_EQ(seen, (std::vector<MessageId>{1, 2}));
}

// A handler starts new work whose messages it waits for in a nested loop, as
// a modal message box does; the first sender stays blocked meanwhile.
TEST(MessageWindow, HandlerRunsANestedLoopForWorkItStarted) {
  Trace trace;
  std::thread second;
  bool secondHandled = false;
  bool firstHandled = false;
  MessageWindow* self = nullptr;
  MessageWindow window([&](const Message& m) {
    trace.Add("begin " + std::to_string(m.id));
    if (m.id == 1) {
      second = std::thread([&] { SendMessageTo(self, 2); });
      MessageLoop::RunUntil([&] { return secondHandled; });
      firstHandled = true;
    } else {
      secondHandled = true;
    }
    trace.Add("end " + std::to_string(m.id));
  });
  self = &window;
  std::thread first([&] {
    SendMessageTo(&window, 1);
    trace.Add("first returned");
  });
  MessageLoop::RunUntil([&] { return firstHandled; });
  first.join();
  second.join();
  EXPECT_EQ(trace.events(), (std::vector<std::string>{"begin 1", "begin 2", "end 2", "end 1", "first returned"}));
}

// The owner's handler sends back to a window of the blocked sender: the sender
// delivers it while it waits instead of deadlocking.
TEST(MessageWindow, SenderDeliversMessagesSentToItsOwnWindowsWhileBlocked) {
  std::latch workerReady(1);
  std::unique_ptr<MessageWindow> workerWindow;
  std::vector<MessageId> workerSeen;  // touched only by the worker thread
  std::atomic<bool> done = false;
  MessageWindow uiWindow([&](const Message& m) {
    SendMessageTo(workerWindow.get(), m.id + 100);
    done = true;
  });
  std::thread worker([&] {
    workerWindow = std::make_unique<MessageWindow>([&](const Message& m) { workerSeen.push_back(m.id); });
    workerReady.count_down();
    SendMessageTo(&uiWindow, 1);
    EXPECT_EQ(workerSeen, (std::vector<MessageId>{101}));
    workerWindow.reset();
  });
  workerReady.wait();
  MessageLoop::RunUntil([&] { return done.load(); });
  worker.join();
}

// A sender blocked on a queued message is released when the window is
// destroyed; the handler never runs.
TEST(MessageWindow, DestroyingTheWindowReleasesABlockedSender) {
  std::atomic<int> handled = 0;
  auto target = std::make_unique<MessageWindow>([&](const Message&) { ++handled; });
  MessageWindow* targetPtr = target.get();

  // The probe is answered by the sender only from inside its wait, i.e. once
  // its message to `target` is queued.
  std::latch probeReady(1);
  MessageWindow* probe = nullptr;
  std::thread sender([&] {
    MessageWindow own([](const Message&) {});
    probe = &own;
    probeReady.count_down();
    SendMessageTo(targetPtr, 1);
  });
  probeReady.wait();
  MessageWindow* probeWindow = probe;
  std::thread prober([&] { SendMessageTo(probeWindow, 9); });
  prober.join();

  target.reset();
  sender.join();
  EXPECT_EQ(MessageLoop::PumpPending(), 0);
  EXPECT_EQ(handled, 0);
}

TEST(MessageWindow, SendToAWindowWhoseThreadEndedReturns) {
  std::unique_ptr<MessageWindow> orphan;
  int handled = 0;
  std::thread owner([&] { orphan = std::make_unique<MessageWindow>([&](const Message&) { ++handled; }); });
  owner.join();
  SendMessageTo(orphan.get(), 1);
  PostMessageTo(orphan.get(), 2);
  EXPECT_EQ(handled, 0);
  orphan.reset();
}

TEST(MessageWindow, WindowDestroyedInsideItsHandlerDropsItsQueue) {
  std::vector<MessageId> seen;
  std::unique_ptr<MessageWindow> window;
  window = std::make_unique<MessageWindow>([&](const Message& m) {
    seen.push_back(m.id);
    window.reset();
  });
  int otherSeen = 0;
  MessageWindow other([&](const Message&) { ++otherSeen; });
  PostMessageTo(window.get(), 1);
  PostMessageTo(&other, 2);
  PostMessageTo(window.get(), 3);
  EXPECT_EQ(MessageLoop::PumpPending(), 2);
  EXPECT_EQ(seen, (std::vector<MessageId>{1}));
  EXPECT_EQ(otherSeen, 1);
}
