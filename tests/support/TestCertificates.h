// Certificates for HTTPS tests, made with openssl: the test authority, whose
// certificate is the extra CA bundle that the test builds of the launcher
// trust (TEST_CA_BUNDLE, made once per build folder), and server certificates
// for nginx.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

struct ServerCertificate {
  std::filesystem::path certificate;  // PEM
  std::filesystem::path key;          // PEM
};

enum class Issuer {
  kTestAuthority,  // the authority of the test builds' CA bundle
  kStranger,       // an authority made for this certificate, trusted by no one
};

// A server certificate for `names` (subjectAltName entries, such as
// "IP:127.0.0.1,DNS:localhost"), valid from now for a day, written into
// `folder` (which must exist) as server.pem and server.key.
ServerCertificate MakeServerCertificate(const std::filesystem::path& folder, const std::string& names, Issuer issuer);

}  // namespace testsupport
