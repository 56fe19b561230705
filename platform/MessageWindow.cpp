#include "platform/MessageWindow.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct ThreadQueue;

// One blocked SendMessageTo. `done` is guarded by the sender's queue mutex and
// signalled on the sender's condition variable, which also wakes the sender
// for messages sent to its own windows while it waits.
struct SendWait {
  std::shared_ptr<ThreadQueue> sender;
  bool done = false;
};

struct Entry {
  std::shared_ptr<MessageWindow::State> window;
  Message message;
  std::shared_ptr<SendWait> wait;  // null for a posted message
};

// The messages waiting for the windows of one thread.
struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Entry> entries;
  bool closed = false;  // the owner thread has ended
};

void Complete(const std::shared_ptr<SendWait>& wait) {
  if (!wait) return;
  {
    std::lock_guard lock(wait->sender->mutex);
    wait->done = true;
  }
  wait->sender->cv.notify_all();
}

void CompleteAll(std::vector<Entry>& entries) {
  for (Entry& entry : entries) Complete(entry.wait);
}

// Closes the thread's queue when the thread ends and releases every sender
// still waiting on one of its windows.
struct ThreadQueueHolder {
  std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  ~ThreadQueueHolder() {
    std::vector<Entry> dropped;
    {
      std::lock_guard lock(queue->mutex);
      queue->closed = true;
      dropped.assign(std::make_move_iterator(queue->entries.begin()), std::make_move_iterator(queue->entries.end()));
      queue->entries.clear();
    }
    CompleteAll(dropped);
  }
};

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  thread_local ThreadQueueHolder holder;
  return holder.queue;
}

}  // namespace

struct MessageWindow::State {
  Handler handler;
  std::thread::id owner;
  std::shared_ptr<ThreadQueue> queue;
  bool alive = true;  // guarded by queue->mutex
};

namespace {

bool IsAlive(const MessageWindow::State& state) {
  std::lock_guard lock(state.queue->mutex);
  return state.alive;
}

// Runs the window's handler unless the window was destroyed meanwhile, then
// releases the sender, even if the handler throws.
void Deliver(Entry& entry) {
  struct Release {
    std::shared_ptr<SendWait>& wait;
    ~Release() { Complete(wait); }
  } release{entry.wait};
  if (IsAlive(*entry.window)) entry.window->handler(entry.message);
}

// Takes the first queued entry (only sent ones when `sentOnly`). The caller
// holds the queue's lock.
bool TakeEntry(ThreadQueue& queue, bool sentOnly, Entry& out) {
  for (auto it = queue.entries.begin(); it != queue.entries.end(); ++it) {
    if (sentOnly && !it->wait) continue;
    out = std::move(*it);
    queue.entries.erase(it);
    return true;
  }
  return false;
}

}  // namespace

MessageWindow::MessageWindow(Handler handler) : state_(std::make_shared<State>()) {
  state_->handler = std::move(handler);
  state_->owner = std::this_thread::get_id();
  state_->queue = CurrentQueue();
}

MessageWindow::~MessageWindow() {
  std::vector<Entry> dropped;
  {
    std::lock_guard lock(state_->queue->mutex);
    state_->alive = false;
    auto& entries = state_->queue->entries;
    for (auto it = entries.begin(); it != entries.end();) {
      if (it->window == state_) {
        dropped.push_back(std::move(*it));
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
  }
  CompleteAll(dropped);
}

std::thread::id MessageWindow::owner() const { return state_->owner; }

void SendMessageTo(MessageWindow* window, MessageId id, WParam wParam, LParam lParam) {
  if (window == nullptr) return;
  std::shared_ptr<MessageWindow::State> state = window->state_;
  Entry entry{state, Message{id, wParam, lParam}, nullptr};
  if (state->owner == std::this_thread::get_id()) {
    Deliver(entry);
    return;
  }

  const std::shared_ptr<ThreadQueue>& self = CurrentQueue();
  entry.wait = std::make_shared<SendWait>(SendWait{self, false});
  std::shared_ptr<SendWait> wait = entry.wait;
  ThreadQueue& target = *state->queue;
  {
    std::lock_guard lock(target.mutex);
    if (target.closed || !state->alive) return;
    target.entries.push_back(std::move(entry));
  }
  target.cv.notify_all();

  std::unique_lock lock(self->mutex);
  while (!wait->done) {
    Entry incoming;
    if (TakeEntry(*self, true, incoming)) {
      lock.unlock();
      Deliver(incoming);
      lock.lock();
      continue;
    }
    self->cv.wait(lock);
  }
}

void PostMessageTo(MessageWindow* window, MessageId id, WParam wParam, LParam lParam) {
  if (window == nullptr) return;
  std::shared_ptr<MessageWindow::State> state = window->state_;
  ThreadQueue& target = *state->queue;
  {
    std::lock_guard lock(target.mutex);
    if (target.closed || !state->alive) return;
    target.entries.push_back(Entry{state, Message{id, wParam, lParam}, nullptr});
  }
  target.cv.notify_all();
}

namespace MessageLoop {

namespace {

// Delivers one message of the calling thread's queue, waiting up to `wait`
// for it. False when none came.
bool DeliverOne(std::chrono::milliseconds wait) {
  ThreadQueue& queue = *CurrentQueue();
  Entry entry;
  {
    std::unique_lock lock(queue.mutex);
    queue.cv.wait_for(lock, wait, [&] { return !queue.entries.empty(); });
    if (!TakeEntry(queue, false, entry)) return false;
  }
  Deliver(entry);
  return true;
}

}  // namespace

void RunUntil(const std::function<bool()>& done, std::chrono::milliseconds poll) {
  while (!done()) DeliverOne(poll);
}

int PumpPending(std::chrono::milliseconds wait) {
  ThreadQueue& queue = *CurrentQueue();
  size_t queued = 0;
  {
    std::unique_lock lock(queue.mutex);
    queue.cv.wait_for(lock, wait, [&] { return !queue.entries.empty(); });
    queued = queue.entries.size();
  }
  // Only what was queued at the start: messages that handlers add meanwhile
  // wait for the next pump.
  int delivered = 0;
  while (static_cast<size_t>(delivered) < queued && DeliverOne(std::chrono::milliseconds(0))) {
    ++delivered;
  }
  return delivered;
}

}  // namespace MessageLoop
