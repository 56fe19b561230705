#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/TempDir.h"
#include "transfer/PartialDownload.h"

using namespace testsupport;
namespace fs = std::filesystem;

TEST(ParseContentRange, AcceptsOnlyACompleteByteRange) {
  const struct {
    const char* value;
    bool valid;
    uint64_t first, last, length;
  } cases[] = {
      {"bytes 100-299/300", true, 100, 299, 300},
      {"  bytes 0-0/1\r\n", true, 0, 0, 1},
      {"bytes */300", false, 0, 0, 0},
      {"bytes 100-299/*", false, 0, 0, 0},
      {"bytes 300-299/300", false, 0, 0, 0},
      {"bytes 100-300/300", false, 0, 0, 0},
      {"items 100-299/300", false, 0, 0, 0},
      {"bytes 1x-299/300", false, 0, 0, 0},
      {"bytes -5-299/300", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const std::optional<ContentRange> range = ParseContentRange(c.value);
    ASSERT_EQ(range.has_value(), c.valid);
    if (!range) continue;
    EXPECT_EQ(range->first, c.first);
    EXPECT_EQ(range->last, c.last);
    EXPECT_EQ(range->length, c.length);
  }
}

// The scratch folder keeps exactly the partial files whose records describe
// them; a record is kept only for bytes that can be resumed.
TEST(PartialDownload, CleaningKeepsOnlyPartialFilesWithMatchingRecords) {
  TempDir work;
  CurrentDirScope cwd(work.path());
  fs::create_directory("temp_d");
  const auto keep = [](const std::string& name, const std::string& localPath, size_t bytes, uint64_t fullLength,
                       const std::string& etag) {
    WriteFile("temp_d/" + name, std::string(bytes, 'x'));
    return KeepPartialDownload("temp_d/" + name, {"http://h/" + name, localPath, 0, fullLength, etag, ""});
  };
  EXPECT_TRUE(keep("~Qo.temp.good", "out\\good.zip", 10, 100, "\"e\""));
  EXPECT_FALSE(keep("~Qo.temp.novalidator", "out\\novalidator.zip", 10, 100, ""));
  EXPECT_TRUE(keep("~Qo.temp.whole", "out\\whole.zip", 100, 100, "\"e\""));
  EXPECT_FALSE(keep("~Qo.temp.over", "out\\over.zip", 101, 100, "\"e\""));
  EXPECT_FALSE(keep("~Qo.temp.empty", "out\\empty.zip", 0, 100, "\"e\""));
  EXPECT_TRUE(keep("~Qo.temp.grown", "out\\grown.zip", 10, 100, "\"e\""));
  WriteFile("temp_d/~Qo.temp.grown", std::string(11, 'x'));
  WriteFile("temp_d/~Qo.temp.orphan", "bytes without a record");
  WriteFile("temp_d/~Qo.temp.lost.part", "a record without bytes");
  WriteFile("temp_d/folder/file", "x");

  CleanScratchFolder("temp_d");
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator("temp_d")) left.insert(entry.path().filename());
  EXPECT_EQ(left,
            (std::set<std::string>{"~Qo.temp.good", "~Qo.temp.good.part", "~Qo.temp.whole", "~Qo.temp.whole.part"}));
  // The whole file is resumed from its last byte.
  const std::optional<PartialDownload> whole = TakePartialDownload("temp_d/~Qo.temp.whole", "out\\whole.zip", 100);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->held, 99u);
  EXPECT_EQ(fs::file_size("temp_d/~Qo.temp.whole"), 99u);

  // Taking the record removes it; the bytes stay for the transfer that took it.
  const std::optional<PartialDownload> taken = TakePartialDownload("temp_d/~Qo.temp.good", "out\\good.zip", 1000);
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(taken->held, 10u);
  EXPECT_EQ(taken->Validator(), "\"e\"");
  EXPECT_FALSE(fs::exists("temp_d/~Qo.temp.good.part"));
  EXPECT_TRUE(fs::exists("temp_d/~Qo.temp.good"));
  // A full length beyond the transfer's bound is not resumed.
  ASSERT_TRUE(KeepPartialDownload("temp_d/~Qo.temp.good", *taken));
  EXPECT_FALSE(TakePartialDownload("temp_d/~Qo.temp.good", "out\\good.zip", 99).has_value());
  EXPECT_FALSE(fs::exists("temp_d/~Qo.temp.good"));
}

// The note of a running transfer vouches for whatever reached its file, up to
// the full length; small files and answers without a validator get none.
TEST(PartialDownload, ARunningNoteKeepsTheBytesOfATransferThatNeverEnded) {
  TempDir work;
  CurrentDirScope cwd(work.path());
  fs::create_directory("temp_d");
  constexpr uint64_t kMiB = 1024 * 1024;
  const struct {
    const char* name;
    uint64_t fullLength;
    const char* etag;
    size_t bytes;  // in the file when the launcher ends
    bool kept;
  } cases[] = {
      {"~Qo.temp.some", 4 * kMiB, "\"e\"", 12345, true},
      {"~Qo.temp.all", 4 * kMiB, "\"e\"", 4 * kMiB, true},  // killed before it was placed
      {"~Qo.temp.none", 4 * kMiB, "\"e\"", 0, false},
      {"~Qo.temp.beyond", 4 * kMiB, "\"e\"", 4 * kMiB + 1, false},
      {"~Qo.temp.small", kMiB - 1, "\"e\"", 100, false},   // no note
      {"~Qo.temp.novalidator", 4 * kMiB, "", 100, false},  // no note
  };
  for (const auto& c : cases) {
    NoteRunningDownload(std::string("temp_d/") + c.name, {"http://h/x", c.name, 7, c.fullLength, c.etag, ""});
    WriteFile(std::string("temp_d/") + c.name, std::string(c.bytes, 'x'));
  }
  CleanScratchFolder("temp_d");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = std::string("temp_d/") + c.name;
    EXPECT_EQ(fs::exists(path), c.kept);
    const std::optional<PartialDownload> taken = TakePartialDownload(path, c.name, 8 * kMiB);
    ASSERT_EQ(taken.has_value(), c.kept);
    if (!taken) continue;
    // A whole file is asked for again from its last byte.
    EXPECT_EQ(taken->held, std::min<uint64_t>(c.bytes, c.fullLength - 1));
    EXPECT_EQ(fs::file_size(path), taken->held);
  }
}
