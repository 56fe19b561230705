#include <gtest/gtest.h>

#include "patch/StagingNames.h"

TEST(StagingNames, FilesWhoseWorkFilesMeetAreFound) {
  struct Case {
    const char* label;
    std::vector<StagedFile> files;
    const char* conflict;  // empty: none
  } cases[] = {
      {"separate files", {{"a.txt"}, {"data/a.txt", true}, {"Temp/b.txt"}, {"Unzip2/a.txt"}}, ""},
      {"payload on an unzipped copy", {{"a.txt"}, {"Unzip/a.txt"}}, "the files a.txt and Unzip/a.txt would meet"},
      {"unzipped copy on an LZMA work copy", {{"x", true}, {"Temp/x"}}, "the files x and Temp/x would meet"},
      {"Temp/x beside an x that is not LZMA", {{"x"}, {"Temp/x"}}, ""},
      {"one file under two spellings",
       {{"data/a.txt"}, {"data\\./a.txt"}},
       "the files data/a.txt and data\\./a.txt would meet"},
      {"one file listed twice", {{"a.txt"}, {"a.txt"}}, "the files a.txt and a.txt would meet"},
      {"names that differ in case", {{"Data/A.txt"}, {"data/a.txt"}}, ""},
      {"a file where another needs a folder", {{"a"}, {"a/b"}}, "the file a would take the place of a folder"},
      {"a file named like the unzip folder", {{"Unzip"}}, "the file Unzip would take the place of a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string conflict = FindStagingConflict(c.files);
    if (*c.conflict == '\0') {
      EXPECT_EQ(conflict, "");
    } else {
      EXPECT_EQ(conflict.rfind(c.conflict, 0), 0u) << conflict;
    }
  }
}
