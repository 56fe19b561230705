// How every transfer judges an HTTPS server: its certificate chain must lead
// to a trusted authority and name the host of the URL. Trusted are the
// system's authorities (libcurl's certificate folder, /etc/ssl/certs on
// Debian) and, when the build names one in LAUNCHER_CA_BUNDLE and the file
// exists, the authorities of that extra bundle. A transfer that starts at an
// https:// address follows redirects to https:// addresses only, so that a
// redirect cannot take it past these checks. Proxies stay as the
// environment sets them (http_proxy, https_proxy, no_proxy).
#pragma once

#include <string_view>

// Sets these checks on a libcurl easy handle (a CURL*) for a transfer of
// `url`. The result is the libcurl code of the first option refused, 0 when
// every option is set.
int SetServerTrust(void* curl, std::string_view url);
