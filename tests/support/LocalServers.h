// Real HTTP servers on 127.0.0.1 for tests: nginx serving a folder, and the
// project's own fault server (tests/support/fault_server.py) that can answer
// with errors, redirects, missing lengths, short or stalled bodies, and record
// POST requests. Each object starts its server and stops it when destroyed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace testsupport {

// How an nginx server differs from plain HTTP serving its root.
struct NginxOptions {
  // Both set: the server speaks HTTPS with this certificate and key (PEM).
  std::filesystem::path certificate;
  std::filesystem::path key;
  // Set ("http://127.0.0.1:<port>"): every request is passed on to that
  // server instead of being served from the root.
  std::string proxyTo;
  // Set ("http://127.0.0.1:<port>"): every request is answered with a 302 to
  // the same path on that server.
  std::string redirectTo;
};

// nginx serving `root` on a free port of 127.0.0.1.
class NginxServer {
 public:
  explicit NginxServer(const std::filesystem::path& root, const NginxOptions& options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>", or "https://..." with a certificate.
  std::string url() const;

 private:
  std::filesystem::path work_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool tls_ = false;
};

// The fault server serving `root`. Paths below the root are served as files;
// these prefixes change the answer for the file named by the rest of the path:
//   /__status/<code>/...   answers with that status code and a short body
//   /__redirect/<rest>     answers 302 with Location /<rest>
//   /__nolength/<rest>     sends the file without Content-Length and closes
//   /__short/<rest>        announces the full length, sends half and closes
//   /__stall/<rest>        sends the headers and 1 KiB, then sends nothing
//   /__corrupt/<rest>      sends the file with its first byte changed
//   /__flood/<rest>        sends the file, then zeros up to 64 MiB, without
//                          Content-Length (a body no client should take whole)
//   /__failfirst/<n>/<rest> answers 500 to the first n requests for the path
//   /__resumable/<mode>/<cut>/<rest> sends the file with an ETag and
//                          Last-Modified; mode "range" answers a Range with a
//                          matching If-Range with 206, "ignore" always sends
//                          it whole (200), "refuse" answers any Range with
//                          416; a cut above 0 ends every body after that many
//                          bytes and closes (see sent())
// Every POST is recorded (see posts()) and answered with `postReply`, unless
// a file "silent" exists in the server's log folder: then it is never answered.
class FaultServer {
 public:
  explicit FaultServer(const std::filesystem::path& root, const std::string& postReply = "0");
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  std::string url() const;
  // Request lines received so far, one per line: "METHOD path".
  std::string requests() const;
  // POST records so far, one JSON object per line:
  // {"path": ..., "headers": {...}, "body_hex": ...}
  std::string posts() const;
  // Body bytes of every /__resumable/ answer, one per line:
  // "<rest> <Range header or -> <bytes>".
  std::string sent() const;

 private:
  std::filesystem::path work_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLocalPort();

}  // namespace testsupport
