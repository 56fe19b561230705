// Window messages without windows. A message is (id, wParam, lParam) with
// pointer-sized arguments. Every receiver ("window") belongs to the thread that
// created it. SendMessageTo blocks the sender until the receiver's handler has
// returned (a direct call when the sender is the owner thread); PostMessageTo
// queues and returns. A null receiver receives nothing. Handlers may send and
// post further messages and start new work from inside a handler.
//
// The owner thread delivers queued messages by running a MessageLoop. A thread
// blocked in SendMessageTo keeps delivering messages sent (not posted) to its
// own windows, so two threads that send to each other do not deadlock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

using MessageId = uint32_t;
using WParam = uintptr_t;
using LParam = intptr_t;

struct Message {
  MessageId id = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

class MessageWindow {
 public:
  using Handler = std::function<void(const Message&)>;

  // Bound to the calling thread. Messages still queued when the window is
  // destroyed are dropped; senders blocked on them are released. Messages
  // sent to a window whose owner thread has ended return at once. The window
  // may be destroyed from inside its own handler; the handler is never called
  // again after the destructor has returned.
  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  std::thread::id owner() const;

  struct State;  // shared with the owner thread's queue

 private:
  std::shared_ptr<State> state_;
  friend void SendMessageTo(MessageWindow*, MessageId, WParam, LParam);
  friend void PostMessageTo(MessageWindow*, MessageId, WParam, LParam);
};

// Synchronous delivery; returns after the handler ran (or at once for a null
// window, or when the window is destroyed before handling the message).
void SendMessageTo(MessageWindow* window, MessageId id, WParam wParam = 0, LParam lParam = 0);

// Queued delivery; never blocks.
void PostMessageTo(MessageWindow* window, MessageId id, WParam wParam = 0, LParam lParam = 0);

// The calling thread's message pump: delivers sent and posted messages to the
// windows this thread owns, one at a time, in arrival order.
namespace MessageLoop {

// Delivers messages until `done()` returns true (checked after each delivered
// message and at least every `poll`). Nested calls are allowed (a modal loop
// inside a handler keeps delivering sent messages).
void RunUntil(const std::function<bool()>& done, std::chrono::milliseconds poll = std::chrono::milliseconds(50));

// Delivers what is queued now, waiting up to `wait` for the first message.
// Returns the number of messages delivered.
int PumpPending(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

}  // namespace MessageLoop
