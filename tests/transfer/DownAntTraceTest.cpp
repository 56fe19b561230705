#include <gtest/gtest.h>

#include <string>

#include "tests/transfer/DownAntFixtures.h"
#include "transfer/DownAntTrace.h"

using namespace DOWNANT;
using downant_test::TraceRecorder;

TEST(DownAntTrace, RecordsCarryTheTwoBytesAndTheTextWithFourBytesBeyondItsEnd) {
  TraceRecorder trace;
  DownAntTrace(2, 1, "Ant Over:%d", 7);
  DownAntTrace(0, 0, "%s", std::string(3000, 'x').c_str());
  const auto records = trace.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], std::string("\x01\x02\x01\x00"
                                    "Ant Over:7\0\0\0\0\0",
                                    4 + 10 + 5));
  // The text is cut to the viewer's 2047 bytes.
  EXPECT_EQ(records[1].size(), 2047u + 9);
  EXPECT_EQ(records[1].substr(4, 2047), std::string(2047, 'x'));
}

TEST(DownAntTrace, NothingIsSentWithoutASink) {
  std::vector<std::string> seen;
  SetDownAntTraceSink([&](std::string_view record) { seen.emplace_back(record); });
  DownAntTrace(0, 0, "one");
  SetDownAntTraceSink({});
  DownAntTrace(0, 0, "two");
  EXPECT_EQ(seen.size(), 1u);
}

TEST(DownAntTrace, FormattedTextsAreCutToTheirLimit) {
  EXPECT_EQ(FormatDownAntText(5, "FileSize: %lld", 12345LL), "FileS");
  EXPECT_EQ(FormatDownAntText(259, "FileSize: %lld", 12345LL), "FileSize: 12345");
}
