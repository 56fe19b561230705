#include "tests/support/LocalServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace testsupport {
namespace {

std::filesystem::path MakeWorkDir(const char* tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

pid_t Spawn(const std::vector<std::string>& argv) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

bool CanConnect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void WaitUntilListening(pid_t pid, int port, const char* what) {
  for (int i = 0; i < 500; ++i) {
    if (CanConnect(port)) return;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) throw std::runtime_error(std::string(what) + " exited before listening");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error(std::string(what) + " did not start listening");
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string ReadText(const std::filesystem::path& path) {
  return std::filesystem::exists(path) ? ReadFile(path) : std::string();
}

}  // namespace

int FreeLocalPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

NginxServer::NginxServer(const std::filesystem::path& root, const NginxOptions& options)
    : work_(MakeWorkDir("launcher-nginx")), tls_(!options.certificate.empty()) {
  port_ = FreeLocalPort();
  std::string tls;
  if (tls_) {
    tls = " ssl;\n    ssl_certificate " + options.certificate.string() + ";\n    ssl_certificate_key " +
          options.key.string();
  }
  std::string content = "    root " + std::filesystem::absolute(root).string() + ";\n";
  if (!options.proxyTo.empty()) content = "    location / { proxy_pass " + options.proxyTo + "; }\n";
  if (!options.redirectTo.empty()) content = "    location / { return 302 " + options.redirectTo + "$request_uri; }\n";
  std::filesystem::create_directories(work_ / "logs");
  std::ofstream conf(work_ / "nginx.conf");
  conf << (geteuid() == 0 ? "user root root;\n" : "") << "daemon off;\nmaster_process off;\n"
       << "error_log " << (work_ / "logs/error.log").string() << ";\n"
       << "pid " << (work_ / "nginx.pid").string() << ";\n"
       << "events { worker_connections 256; }\n"
       << "http {\n"
       << "  access_log " << (work_ / "logs/access.log").string() << ";\n"
       << "  client_body_temp_path " << (work_ / "body").string() << ";\n"
       << "  proxy_temp_path " << (work_ / "proxy").string() << ";\n"
       << "  fastcgi_temp_path " << (work_ / "fastcgi").string() << ";\n"
       << "  uwsgi_temp_path " << (work_ / "uwsgi").string() << ";\n"
       << "  scgi_temp_path " << (work_ / "scgi").string() << ";\n"
       << "  sendfile on;\n  types { }\n  default_type application/octet-stream;\n"
       << "  server {\n    listen 127.0.0.1:" << port_ << tls << ";\n"
       << content << "  }\n}\n";
  conf.close();
  pid_ = Spawn({"nginx", "-e", (work_ / "logs/error.log").string(), "-p", work_.string(), "-c",
                (work_ / "nginx.conf").string()});
  WaitUntilListening(pid_, port_, "nginx");
}

NginxServer::~NginxServer() {
  Stop(pid_);
  std::error_code ec;
  std::filesystem::remove_all(work_, ec);
}

std::string NginxServer::url() const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

FaultServer::FaultServer(const std::filesystem::path& root, const std::string& postReply)
    : work_(MakeWorkDir("launcher-fault")) {
  port_ = FreeLocalPort();
  pid_ =
      Spawn({"python3", std::string(TEST_SUPPORT_DIR) + "/fault_server.py", "--port", std::to_string(port_), "--root",
             std::filesystem::absolute(root).string(), "--log-dir", work_.string(), "--post-reply", postReply});
  WaitUntilListening(pid_, port_, "fault server");
}

FaultServer::~FaultServer() {
  Stop(pid_);
  std::error_code ec;
  std::filesystem::remove_all(work_, ec);
}

std::string FaultServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }
std::string FaultServer::requests() const { return ReadText(work_ / "requests.log"); }
std::string FaultServer::posts() const { return ReadText(work_ / "posts.log"); }
std::string FaultServer::sent() const { return ReadText(work_ / "sent.log"); }

}  // namespace testsupport
