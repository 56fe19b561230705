#include "Procedure/TransferRate.h"

#include <algorithm>

void TransferRate::Add(uint32_t tick, int64_t total, int64_t received) {
  if (total != total_ || (!changes_.empty() && received < changes_.back().received)) changes_.clear();
  total_ = total;
  lastTick_ = tick;
  if (changes_.empty() || received != changes_.back().received) changes_.push_back({tick, received});
  while (changes_.size() >= 2 && tick - changes_[1].tick >= kWindowMs) changes_.pop_front();
}

std::optional<int32_t> TransferRate::Speed() const {
  if (changes_.empty()) return std::nullopt;
  const Change& first = changes_.front();
  const Change& last = changes_.back();
  const uint32_t end = lastTick_ - last.tick > kQuietMs ? lastTick_ : last.tick;
  const uint32_t span = end - first.tick;
  if (span < kShortestSpanMs) return std::nullopt;
  const double speed = static_cast<double>(last.received - first.received) * 1000.0 / span;
  return static_cast<int32_t>(std::clamp(speed, 0.0, 2147483647.0));
}
