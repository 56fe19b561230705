// The download speed that the command window reports: the bytes received in
// the last few seconds of one transfer divided by the time they took. Bursts
// and short gaps of a network move it little, and it falls to 0 only when
// nothing has arrived for the whole window.
//
// The downloader's counts are samples renewed about once a second, while its
// reports come far more often: the speed is measured between the moments the
// count changed, and the time since the last change counts only once it is
// longer than the samples' spacing (the bytes have stopped).
//
// Thread: the command window's (the UI thread) only.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

class TransferRate {
 public:
  // The speed is averaged over this many milliseconds.
  static constexpr uint32_t kWindowMs = 5000;
  // Changes spanning less than this measure nothing yet; a quarter of a
  // second gives a download that ends soon its figure too.
  static constexpr uint32_t kShortestSpanMs = 250;
  // A count unchanged for longer than this means that nothing arrives.
  static constexpr uint32_t kQuietMs = 1500;

  // One progress report at `tick` (milliseconds, 32-bit, may wrap). A count
  // below the last one or another total is a new transfer: what was measured
  // before is dropped.
  void Add(uint32_t tick, int64_t total, int64_t received);

  // Bytes per second at the last report, over about the last kWindowMs;
  // nullopt while there is too little to measure.
  std::optional<int32_t> Speed() const;

 private:
  struct Change {
    uint32_t tick;
    int64_t received;
  };
  // Oldest first; the first is the newest change at least kWindowMs before
  // the last report, or the transfer's first report.
  std::deque<Change> changes_;
  uint32_t lastTick_ = 0;
  int64_t total_ = 0;
};
