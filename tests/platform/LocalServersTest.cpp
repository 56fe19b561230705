// The test servers themselves: other tests rely on their answers.
#include <gtest/gtest.h>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

TEST(LocalServers, NginxAndFaultServerServeTheFolder) {
  TempDir root;
  WriteFile(root.path() / "a.txt", "hello");
  NginxServer nginx(root.path());
  FaultServer fault(root.path());
  TempDir out;
  EXPECT_EQ(RunShell("curl -sf " + nginx.url() + "/a.txt -o " + (out.path() / "n").string()), 0);
  EXPECT_EQ(ReadFile(out.path() / "n"), "hello");
  EXPECT_EQ(RunShell("curl -sf " + fault.url() + "/__nolength/a.txt?rand=1 -o " + (out.path() / "f").string()), 0);
  EXPECT_EQ(ReadFile(out.path() / "f"), "hello");
  EXPECT_NE(RunShell("curl -sf " + fault.url() + "/__status/404/a.txt -o /dev/null"), 0);
  EXPECT_EQ(RunShell("curl -sf -d x=1 " + fault.url() + "/log -o /dev/null"), 0);
  EXPECT_NE(fault.posts().find("\"body_hex\": \"783d31\""), std::string::npos);
  EXPECT_NE(fault.requests().find("GET /__status/404/a.txt"), std::string::npos);
}
