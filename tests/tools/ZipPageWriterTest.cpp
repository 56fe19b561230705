#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "patch/UnzipPackage.h"
#include "patch/checksum/QoChecksum.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestBytes.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/ZipPageWriter.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ZipPageWriterTest : public testing::Test {
 protected:
  // An entry of `length` random bytes.
  ZipPageEntry Entry(const std::string& name, size_t length, bool store = false) {
    fs::path source = dir_.path() / "sources" / name;
    WriteFile(source, testsupport::RandomBytes(length, static_cast<unsigned>(entries_.size())));
    return {name, source.string(), store};
  }

  std::vector<ZipPage> Write(uint64_t maxPageSize) {
    fs::create_directories(dir_.path() / "out");
    std::vector<ZipPage> pages;
    std::string error;
    EXPECT_TRUE(WriteZipPages(entries_, (dir_.path() / "out").string(), "page", maxPageSize,
                              (dir_.path() / "work.zip").string(), pages, error))
        << error;
    return pages;
  }

  // The entry names of a page, with their compression methods.
  std::vector<std::pair<std::string, int>> Contents(const ZipPage& page) {
    std::vector<std::pair<std::string, int>> contents;
    int code = 0;
    zip_t* archive = zip_open((dir_.path() / "out" / page.fileName).string().c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) return contents;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
      zip_stat_t stat;
      zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
      contents.emplace_back(stat.name, stat.comp_method);
    }
    zip_discard(archive);
    return contents;
  }

  TempDir dir_;
  std::vector<ZipPageEntry> entries_;
};

TEST_F(ZipPageWriterTest, PagesKeepOrderStayWithinTheLimitAndExtract) {
  // Built piece by piece: GCC 12 at -O3 warns (-Wrestrict) about "f" + text.
  for (int i = 0; i < 7; ++i)
    entries_.push_back(Entry(std::string("f").append(std::to_string(i)).append(".bin"), 10000));
  std::vector<ZipPage> pages = Write(35000);

  ASSERT_EQ(pages.size(), 3u);  // three incompressible entries of 10000 bytes fit 35000
  std::vector<size_t> order;
  for (size_t p = 0; p < pages.size(); ++p) {
    const ZipPage& page = pages[p];
    const fs::path path = dir_.path() / "out" / page.fileName;
    EXPECT_EQ(page.fileName, "page" + std::to_string(p) + ".zip");
    EXPECT_EQ(page.size, static_cast<int64_t>(fs::file_size(path)));
    EXPECT_LE(page.size, 35000);
    std::string md5;
    ASSERT_TRUE(GetMd5Checksum().MakeFileHex(path.string(), md5));
    EXPECT_EQ(page.md5, md5);
    ASSERT_TRUE(UnzipPackage(path.string(), (dir_.path() / "extracted").string()));
    order.insert(order.end(), page.entries.begin(), page.entries.end());
  }
  EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6}));
  for (const ZipPageEntry& entry : entries_)
    EXPECT_EQ(ReadFile(dir_.path() / "extracted" / entry.name), ReadFile(entry.sourcePath)) << entry.name;
}

TEST_F(ZipPageWriterTest, LargeEntryGetsAPageOfItsOwnAndStoredEntriesStayStored) {
  entries_.push_back(Entry("small.bin", 100));
  entries_.push_back(Entry("chunks.lzma", 50000, true));
  entries_.push_back(Entry("after.bin", 100));
  std::vector<ZipPage> pages = Write(20000);

  ASSERT_EQ(pages.size(), 3u);
  EXPECT_GT(pages[1].size, 50000);
  EXPECT_EQ(Contents(pages[0]), (std::vector<std::pair<std::string, int>>{{"small.bin", ZIP_CM_DEFLATE}}));
  EXPECT_EQ(Contents(pages[1]), (std::vector<std::pair<std::string, int>>{{"chunks.lzma", ZIP_CM_STORE}}));
  EXPECT_EQ(Contents(pages[2]), (std::vector<std::pair<std::string, int>>{{"after.bin", ZIP_CM_DEFLATE}}));
}

TEST_F(ZipPageWriterTest, NamesDifferingOnlyInCaseNeverShareAPage) {
  // The launcher looks entries up without regard to case: in one package
  // the second name would be read from the first entry.
  entries_.push_back(Entry("dir/Note.txt", 10));
  entries_.push_back(Entry("dir/NOTE.txt", 10));
  entries_.push_back(Entry("dir/other.txt", 10));
  std::vector<ZipPage> pages = Write(1 << 20);

  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].entries, std::vector<size_t>{0});
  EXPECT_EQ(pages[1].entries, (std::vector<size_t>{1, 2}));
  for (const ZipPage& page : pages)
    ASSERT_TRUE(UnzipPackage((dir_.path() / "out" / page.fileName).string(), (dir_.path() / "x").string()));
  EXPECT_EQ(ReadFile(dir_.path() / "x/dir/Note.txt"), ReadFile(entries_[0].sourcePath));
  EXPECT_EQ(ReadFile(dir_.path() / "x/dir/NOTE.txt"), ReadFile(entries_[1].sourcePath));
}

TEST_F(ZipPageWriterTest, NoEntriesNoPagesAndUnreadableSourceFails) {
  EXPECT_TRUE(Write(1000).empty());

  entries_.push_back({"gone.bin", (dir_.path() / "missing.bin").string(), false});
  std::vector<ZipPage> pages;
  std::string error;
  EXPECT_FALSE(WriteZipPages(entries_, dir_.str(), "page", 1000, (dir_.path() / "w.zip").string(), pages, error));
  EXPECT_NE(error.find("missing.bin"), std::string::npos) << error;
}

}  // namespace
