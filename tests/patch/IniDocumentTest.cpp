#include <gtest/gtest.h>

#include <string>

#include "patch/IniDocument.h"
#include "tests/support/TempDir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Loads `text` from a file and keeps the document for lookups.
class IniDocumentTest : public testing::Test {
 protected:
  int LoadText(const std::string& text) {
    WriteFile(dir_.path() / "doc.ini", text);
    return doc_.Load((dir_.path() / "doc.ini").string());
  }

  TempDir dir_;
  IniDocument doc_;
};

TEST_F(IniDocumentTest, ParseFailuresStopWithTheirCodeAndMessage) {
  struct Case {
    const char* text;
    int code;
    const char* message;
    size_t sectionsKept;
  } cases[] = {
      {"[abc\n", INI_NO_CLOSING_BRACKET, "no matched ] found", 1},
      {"[]\n", INI_EMPTY_SECTION_NAME, "section name is empty", 1},
      // The blank name collides with the unnamed section.
      {"[ ]\n", INI_DUPLICATE_SECTION, "section already exist", 1},
      {"[A]\n[B]\n[A]\n", INI_DUPLICATE_SECTION, "section Aalready exist", 3},
      {"a=1\nabc\nb=2\n", INI_BAD_LINE, "parse line failed:abc", 1},
      // Only the content before the comment marker is reported.
      {"[S]\nabc # note\n", INI_BAD_LINE, "parse line failed:abc", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadText(c.text), c.code) << c.text;
    EXPECT_EQ(doc_.errorMessage(), c.message) << c.text;
    EXPECT_EQ(doc_.sections().size(), c.sectionsKept) << c.text;
  }
}

TEST_F(IniDocumentTest, LinesBeforeAFailureStayReadable) {
  EXPECT_EQ(LoadText("[S]\nk=v\n[S]\nlate=1\n"), INI_DUPLICATE_SECTION);
  std::string value;
  EXPECT_EQ(doc_.GetValue("S", "k", value), INI_OK);
  EXPECT_EQ(value, "v");
  EXPECT_EQ(doc_.GetValue("S", "late", value), INI_KEY_NOT_FOUND);
}

TEST_F(IniDocumentTest, MissingFileLeavesNoSections) {
  std::string path = (dir_.path() / "missing.ini").string();
  EXPECT_EQ(doc_.Load(path), INI_OPEN_FAILED);
  EXPECT_EQ(doc_.errorMessage(), "open" + path + " file failed");
  EXPECT_TRUE(doc_.sections().empty());
  EXPECT_EQ(doc_.filePath(), path);
  // A folder is not a readable file either.
  EXPECT_EQ(doc_.Load(dir_.str()), INI_OPEN_FAILED);
}

TEST_F(IniDocumentTest, EntriesAndHeadersSplitAsDescribed) {
  ASSERT_EQ(LoadText("Version=1.0\n"
                     "a = b = c\n"
                     "=x\n"
                     "k=\n"
                     "key=val#x\n"
                     "[Sec] # note\n"
                     "[ Tail ]tail\n"
                     "\tspaced\t=\t v \r\n"),
            INI_OK);
  const auto& sections = doc_.sections();
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].name, "");
  EXPECT_EQ(sections[1].name, "Sec");
  EXPECT_EQ(sections[1].rightComment, "note");
  EXPECT_EQ(sections[2].name, "Tail");
  ASSERT_EQ(sections[2].entries.size(), 1u);
  EXPECT_EQ(sections[2].entries[0].key, "spaced");
  EXPECT_EQ(sections[2].entries[0].value, "v");

  struct Lookup {
    const char* key;
    const char* value;
  } lookups[] = {{"Version", "1.0"}, {"a", "b = c"}, {"", "x"}, {"k", ""}, {"key", "val"}};
  for (const auto& l : lookups) {
    std::string value = "unset";
    EXPECT_EQ(doc_.GetValue("", l.key, value), INI_OK) << l.key;
    EXPECT_EQ(value, l.value) << l.key;
  }
  EXPECT_EQ(sections[0].entries[4].rightComment, "x");
}

TEST_F(IniDocumentTest, CommentBlocksAttachToTheNextLine) {
  ASSERT_EQ(LoadText("#one\n  #two\n\nk=v\n\n# head\n[S]\nx=1\n# dropped at the end\n"), INI_OK);
  std::string value;
  std::string comment;
  ASSERT_EQ(doc_.GetValue("", "k", value, &comment), INI_OK);
  EXPECT_EQ(comment, "#one\n#two\n\n");
  EXPECT_EQ(doc_.sections()[1].comment, "\n# head\n");
  ASSERT_EQ(doc_.GetValue("S", "x", value, &comment), INI_OK);
  EXPECT_EQ(comment, "");
}

TEST_F(IniDocumentTest, CrLfAndLfLinesParseAlike) {
  ASSERT_EQ(LoadText("[S]\r\nk=v\r\n#c\r\nm=w"), INI_OK);
  std::string value;
  std::string comment;
  EXPECT_EQ(doc_.GetValue("S", "k", value), INI_OK);
  EXPECT_EQ(value, "v");
  EXPECT_EQ(doc_.GetValue("S", "m", value, &comment), INI_OK);
  EXPECT_EQ(value, "w");
  EXPECT_EQ(comment, "#c\n");
}

TEST_F(IniDocumentTest, LookupsMatchExactlyAndTheFirstDuplicateWins) {
  ASSERT_EQ(LoadText("[S]\nk=first\nk=second\nK=upper\n[s]\nk=lower\n"), INI_OK);
  EXPECT_EQ(doc_.sections()[1].entries.size(), 3u);
  std::string value;
  EXPECT_EQ(doc_.GetValue("S", "k", value), INI_OK);
  EXPECT_EQ(value, "first");
  EXPECT_EQ(doc_.GetValue("S", "K", value), INI_OK);
  EXPECT_EQ(value, "upper");
  EXPECT_EQ(doc_.GetValue("s", "k", value), INI_OK);
  EXPECT_EQ(value, "lower");

  std::string untouched = "keep";
  std::string comment = "keep";
  EXPECT_EQ(doc_.GetValue("S", "k ", untouched, &comment), INI_KEY_NOT_FOUND);
  EXPECT_EQ(doc_.errorMessage(), "not find the key k ");
  EXPECT_EQ(doc_.GetValue("T", "k", untouched, &comment), INI_SECTION_NOT_FOUND);
  EXPECT_EQ(doc_.errorMessage(), "not find the section T");
  EXPECT_EQ(untouched, "keep");
  EXPECT_EQ(comment, "keep");
}

TEST_F(IniDocumentTest, IntValuesFollowAtoi) {
  ASSERT_EQ(LoadText("[N]\na=12abc\nb=-7\nc=x\nd= +3\ne=99999999999\nf=-2147483648\n"), INI_OK);
  struct Case {
    const char* key;
    int code;
    int number;
  } cases[] = {{"a", INI_OK, 12},
               {"b", INI_OK, -7},
               {"c", INI_OK, 0},
               {"d", INI_OK, 3},
               {"e", INI_OK, 2147483647},
               {"f", INI_OK, -2147483647 - 1},
               {"missing", INI_KEY_NOT_FOUND, 0}};
  for (const auto& c : cases) {
    int number = 55;
    EXPECT_EQ(doc_.GetIntValue("N", c.key, number), c.code) << c.key;
    EXPECT_EQ(number, c.number) << c.key;
  }
  int number = 55;
  EXPECT_EQ(doc_.GetIntValue("none", "a", number), INI_SECTION_NOT_FOUND);
  EXPECT_EQ(number, 0);
}

TEST_F(IniDocumentTest, ReloadAndReleaseDropEverything) {
  ASSERT_EQ(LoadText("[A]\nk=1\n"), INI_OK);
  ASSERT_EQ(LoadText("[B]\nk=2\n"), INI_OK);
  std::string value;
  EXPECT_EQ(doc_.GetValue("A", "k", value), INI_SECTION_NOT_FOUND);
  doc_.Release();
  EXPECT_TRUE(doc_.sections().empty());
  EXPECT_EQ(doc_.filePath(), "");
  // The last failure's text survives later successes.
  EXPECT_EQ(doc_.errorMessage(), "not find the section A");
}

TEST_F(IniDocumentTest, OtherCommentMarkers) {
  IniDocument doc(";");
  WriteFile(dir_.path() / "semi.ini", "; c\nk=v#1 ; r\n");
  ASSERT_EQ(doc.Load((dir_.path() / "semi.ini").string()), INI_OK);
  std::string value;
  std::string comment;
  ASSERT_EQ(doc.GetValue("", "k", value, &comment), INI_OK);
  EXPECT_EQ(value, "v#1");
  EXPECT_EQ(comment, "; c\n");
  EXPECT_EQ(doc.sections()[0].entries[0].rightComment, "r");
}

}  // namespace
