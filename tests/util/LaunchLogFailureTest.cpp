#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "util/LaunchLog.h"
#include "util/LaunchLogFailure.h"

using testsupport::CurrentDirScope;
using testsupport::TempDir;

TEST(LaunchLogFailure, TheLastFailureLineWithoutItsTimeShortenedToOneLine) {
  const std::string download = "start file download fail: 5 temp_d\\page0.zip <-- http://127.0.0.1/page0.zip";
  const struct {
    const char* what;
    std::vector<std::string> lines;  // none: no log at all
    size_t maxBytes;
    std::string reason;
  } cases[] = {
      {"no log", {}, 80, ""},
      {"no failure", {"start file download: Curl a <-- b", "debug"}, 80, ""},
      {"an event's name is no failure", {"Failed to x", "type=adevent&log=LE_InstallByCPFail"}, 80, "Failed to x"},
      {"an error line, later ordinary lines",
       {"FILE=Procedure\\ProcedureInstall,LINE=92 ,DownloadFile", "debug"},
       80,
       "FILE=Procedure\\ProcedureInstall,LINE=92 ,DownloadFile"},
      {"the spaced form",
       {"FILE =transfer\\CAutoDownload_Curl, Line =1,MoveFile"},
       80,
       "FILE =transfer\\CAutoDownload_Curl, Line =1,MoveFile"},
      {"the last one wins", {"PatchUser Error 3", download}, 200, download},
      {"cut with an ellipsis", {download}, 30, "start file download fail: 5…"},
      {"never inside a character", {"復元 failed"}, 8, "復…"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CurrentDirScope cwd(dir.path());
    for (const std::string& line : c.lines) WriteLaunchLog("%s", line.c_str());
    const std::string reason = LastLaunchLogFailure(c.maxBytes);
    EXPECT_EQ(reason, c.reason);
    EXPECT_LE(reason.size(), c.maxBytes);
  }
}
