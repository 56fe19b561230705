#include <gtest/gtest.h>

#include "transfer/DownAntUrl.h"

using namespace DOWNANT;

TEST(DownAntUrl, SplitsCanonicalUrls) {
  const struct {
    const char* url;
    int scheme;
    const char* host;
    uint16_t port;
    const char* objectPath;
    const char* requestUrl;
  } cases[] = {
      {"http://127.0.0.1:8080/pack/a.zip", kSchemeHttp, "127.0.0.1", 8080, "/pack/a.zip",
       "http://127.0.0.1:8080/pack/a.zip"},
      {"  HTTP://Host.example/a?x=1#frag \r\n", kSchemeHttp, "Host.example", 80, "/a?x=1",
       "http://Host.example:80/a?x=1"},
      {"http://host", kSchemeHttp, "host", 80, "", "http://host:80/"},
      {"http://host?q", kSchemeHttp, "host", 80, "?q", "http://host:80/?q"},
      {"http://user:pw@host:81/", kSchemeHttp, "host", 81, "/", "http://host:81/"},
      {"http://host:/x", kSchemeHttp, "host", 80, "/x", "http://host:80/x"},
      {"http://[::1]:90/x", kSchemeHttp, "[::1]", 90, "/x", "http://[::1]:90/x"},
      // Dot segments resolve, "\" is a separator, unsafe bytes are escaped,
      // existing escapes stay.
      {"http://h/a/./b/../c/", kSchemeHttp, "h", 80, "/a/c/", "http://h:80/a/c/"},
      {"http://h/a/..", kSchemeHttp, "h", 80, "/", "http://h:80/"},
      {"http://h/../../x", kSchemeHttp, "h", 80, "/x", "http://h:80/x"},
      {"http://h\\data\\a b.dat", kSchemeHttp, "h", 80, "/data/a%20b.dat", "http://h:80/data/a%20b.dat"},
      {"http://h/%41<\"{|}>^`", kSchemeHttp, "h", 80, "/%41%3C%22%7B%7C%7D%3E%5E%60",
       "http://h:80/%41%3C%22%7B%7C%7D%3E%5E%60"},
      {"http://h/\xd6\xd0?n=\xd6\xd0 1&<>", kSchemeHttp, "h", 80, "/%D6%D0?n=%D6%D0%201&<>",
       "http://h:80/%D6%D0?n=%D6%D0%201&<>"},
      {"https://h/x", kSchemeHttps, "h", 443, "/x", "https://h:443/x"},
      {"ftp://h/x", kSchemeFtp, "h", 21, "/x", "ftp://h:21/x"},
      {"gopher://h/", kSchemeGopher, "h", 70, "/", "gopher://h:70/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    DownAntUrl parts;
    ASSERT_TRUE(ParseDownAntUrl(c.url, parts));
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.hostName, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.objectPath, c.objectPath);
    EXPECT_EQ(RequestUrl(parts), c.requestUrl);
  }
}

TEST(DownAntUrl, RefusesWhatCannotBeParsed) {
  for (const char* url : {"", "   ", "127.0.0.1/a.bin", "gttp://h/a", "http:/h/a", "http:h", "http://", "http:///a",
                          "http://@/a", "http://h:0/", "http://h:65536/", "http://h:8o/", "http://[::1/",
                          "mailto:someone@example.com", "file:///c:/a.txt", ":x"}) {
    DownAntUrl parts;
    EXPECT_FALSE(ParseDownAntUrl(url, parts)) << url;
  }
}
