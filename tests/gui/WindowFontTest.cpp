#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"
#include "ui/sdl/WindowFont.h"

namespace {

// For its life, fontconfig knows only the fonts in one folder (and keeps
// its cache in a folder of its own).
class OnlyFontsOf {
 public:
  explicit OnlyFontsOf(const std::filesystem::path& folder) : previous_(FcConfigReference(nullptr)) {
    FcConfig* config = FcConfigCreate();
    const std::string text =
        "<fontconfig><dir>" + folder.string() + "</dir><cachedir>" + cache_.str() + "</cachedir></fontconfig>";
    FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(text.c_str()), FcTrue);
    FcConfigBuildFonts(config);
    FcConfigSetCurrent(config);
    FcConfigDestroy(config);  // kept alive as the current configuration
  }
  ~OnlyFontsOf() {
    FcConfigSetCurrent(previous_);
    FcConfigDestroy(previous_);
  }
  OnlyFontsOf(const OnlyFontsOf&) = delete;
  OnlyFontsOf& operator=(const OnlyFontsOf&) = delete;

 private:
  testsupport::TempDir cache_;
  FcConfig* previous_;
};

TEST(WindowFontTest, WithoutTheWindowFontAJapaneseFontIsTakenAndNothingElse) {
  const struct {
    const char* name;
    const char* font;  // the one font installed, or none
    bool found;
  } cases[] = {
      {"a Japanese font", GUI_TEST_JAPANESE_FONT, true},
      {"only a font without Japanese", GUI_TEST_LATIN_FONT, false},
      {"no font", nullptr, false},
  };
  for (const auto& c : cases) {
    testsupport::TempDir folder;
    std::filesystem::path installed;
    if (c.font != nullptr) {
      installed = folder.path() / std::filesystem::path(c.font).filename();
      std::filesystem::copy_file(c.font, installed);
    }
    OnlyFontsOf scope(folder.path());
    const std::optional<WindowFont::File> found = WindowFont::Find();
    EXPECT_EQ(found.has_value(), c.found) << c.name;
    if (found) {
      EXPECT_EQ(found->path, installed.string()) << c.name;
    }
  }
}

}  // namespace
