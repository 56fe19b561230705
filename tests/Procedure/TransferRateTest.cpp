#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "Procedure/TransferRate.h"

namespace {

struct Report {
  uint32_t tick;
  int64_t received;
  std::optional<int32_t> speed;  // after this report
};

// Each row: progress reports of one transfer of 10 MB, oldest first, with the
// speed expected after each.
struct Case {
  const char* what;
  std::vector<Report> reports;
};

TEST(TransferRateTest, TheSpeedIsTheBytesOfTheLastSecondsOverTheirTime) {
  const int64_t total = 10'000'000;
  const Case cases[] = {
      {"nothing to measure within the first quarter of a second",
       {{0, 1000, std::nullopt}, {200, 21000, std::nullopt}, {249, 25900, std::nullopt}, {250, 26000, 100000}}},
      {"a steady 100 KB/s",
       {{0, 0, std::nullopt}, {1000, 100000, 100000}, {2000, 200000, 100000}, {7000, 700000, 100000}}},
      // The downloader renews its count once a second and reports four times
      // as often: the reports between two samples do not pull the speed down.
      {"counts sampled once a second",
       {{0, 0, std::nullopt},
        {250, 0, std::nullopt},
        {750, 0, std::nullopt},
        {1000, 100000, 100000},
        {1250, 100000, 100000},
        {1750, 100000, 100000},
        {2000, 200000, 100000},
        {2500, 200000, 100000},
        {3000, 300000, 100000}}},
      // A network that delivers in bursts of a second with a second of
      // nothing between: the one-second meter would read 200 KB/s and 0.
      {"bursts and gaps average out",
       {{0, 0, std::nullopt},
        {1000, 200000, 200000},
        {2000, 200000, 200000},
        {3000, 400000, 133333},
        {4000, 400000, 133333},
        {5000, 600000, 120000},
        {6000, 600000, 100000},
        {7000, 800000, 100000},
        {8000, 800000, 100000}}},
      // Nothing arrives: after the samples' spacing the figure sinks, and it
      // is 0 once the whole window has passed without a byte.
      {"a stall falls to 0 only after the window",
       {{0, 0, std::nullopt},
        {5000, 500000, 100000},
        {6000, 500000, 100000},
        {8000, 500000, 62500},
        {9000, 500000, 55555},
        {10000, 500000, 0},
        {12000, 500000, 0},
        {13000, 600000, 12500}}},
      {"across the wrap of the tick",
       {{0xFFFFFC18u, 0, std::nullopt}, {0x000003E8u, 200000, 100000}, {0x00000BB8u, 400000, 100000}}},
      // A count below the last is the next transfer: the earlier one no
      // longer counts.
      {"a new transfer starts over",
       {{0, 0, std::nullopt}, {2000, 2000000, 1000000}, {2500, 1000, std::nullopt}, {3500, 11000, 10000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TransferRate rate;
    for (const Report& report : c.reports) {
      SCOPED_TRACE(report.tick);
      rate.Add(report.tick, total, report.received);
      EXPECT_EQ(rate.Speed(), report.speed);
    }
  }
}

TEST(TransferRateTest, AnotherTotalIsAnotherTransfer) {
  TransferRate rate;
  rate.Add(0, 1000, 0);
  rate.Add(2000, 1000, 1000);
  EXPECT_EQ(rate.Speed(), 500);
  rate.Add(2500, 5000, 1000);
  EXPECT_EQ(rate.Speed(), std::nullopt);
}

}  // namespace
