#include "tests/support/TestCertificates.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

#include "tests/support/TempDir.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

// P-256 keys: quick to make, and every TLS library takes them.
constexpr const char* kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

void Openssl(const fs::path& folder, const std::string& arguments) {
  const std::string command = "cd '" + folder.string() + "' && openssl " + arguments + " >openssl.log 2>&1";
  if (RunShell(command) != 0) throw std::runtime_error("openssl failed: " + command);
}

// An authority in `folder`: ca.pem and ca.key.
void MakeAuthority(const fs::path& folder, const std::string& name) {
  Openssl(folder, std::string("req -x509 ") + kNewKey + " -keyout ca.key -out ca.pem -days 3650 -subj '/CN=" + name +
                      "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
}

// The test authority's folder (TEST_CA_BUNDLE is its ca.pem), made on first use. Test programs run side by
// side: the folder is made under another name and renamed into place, and the
// one that loses the race uses the winner's.
fs::path TestAuthority() {
  const fs::path folder = fs::path(TEST_CA_BUNDLE).parent_path();
  if (fs::exists(folder / "ca.pem")) return folder;
  fs::create_directories(folder.parent_path());
  std::string pattern = (folder.parent_path() / (folder.filename().string() + ".XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  MakeAuthority(pattern, "Launcher Test Authority");
  std::error_code error;
  fs::rename(pattern, folder, error);
  if (error) fs::remove_all(pattern, error);
  return folder;
}

}  // namespace

ServerCertificate MakeServerCertificate(const fs::path& folder, const std::string& names, Issuer issuer) {
  fs::path authority = folder;
  if (issuer == Issuer::kTestAuthority) {
    authority = TestAuthority();
  } else {
    MakeAuthority(folder, "Unknown Authority");
  }
  WriteFile(folder / "server.ext", "subjectAltName=" + names + "\nextendedKeyUsage=serverAuth\n");
  Openssl(folder, std::string("req -new ") + kNewKey + " -keyout server.key -out server.csr -subj /CN=test-server");
  Openssl(folder, "x509 -req -in server.csr -CA '" + (authority / "ca.pem").string() + "' -CAkey '" +
                      (authority / "ca.key").string() +
                      "' -set_serial 0x$(openssl rand -hex 8) -days 1 -extfile server.ext -out server.pem");
  return {folder / "server.pem", folder / "server.key"};
}

}  // namespace testsupport
