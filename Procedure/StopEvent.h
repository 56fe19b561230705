// The manager's stop event: a manual-reset event. Once set it stays signalled
// until it is reset. The manager resets it before every start; procedures poll
// it at their checkpoints and end with their "cancelled" result when it is
// set. Any thread may call any operation.
#pragma once

#include <atomic>

class StopEvent {
 public:
  StopEvent() = default;
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  void Set();
  void Reset();
  // A wait with a zero time-out: true while the event is signalled.
  bool IsSet() const;

 private:
  std::atomic<bool> signalled_ = false;
};
