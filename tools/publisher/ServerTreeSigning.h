// Signatures of an update-server tree: which files of a tree are signed, the
// signing key file, writing "<name>.sig" next to each signed file, and the
// check of a tree's signatures against a public key (the format:
// patch/SignedFileRecord.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The signed files present in the tree below `base`, as paths below it with
// "/": the version files, AutoPatch/AutoPatch.ini, the lists of the launcher
// and game version folders, the installation descriptions and the patch
// descriptions. In name order.
std::vector<std::string> SignedFilesOfTree(const std::string& base);

// Writes a new key pair: the private key file at `path` (created with mode
// 0600; an existing file is not replaced) and `publicKeyHex`. False with
// `error` when the file cannot be written.
[[nodiscard]] bool WriteSigningKeyFile(const std::string& path, std::string& publicKeyHex, std::string& error);
// The private key of a key file. False with `error` when it cannot be read or
// holds no key.
[[nodiscard]] bool ReadSigningKeyFile(const std::string& path, std::string& privateKeyHex, std::string& error);

struct TreeSigning {
  std::string privateKeyHex;  // empty: the tree is not signed
  uint64_t serial = 0;        // the publication's release serial
  int64_t expires = 0;        // seconds since 1970 UTC
};

// Writes "<name>.sig" next to every signed file below `base`. False with
// `error` when a file cannot be read or a signature file written.
[[nodiscard]] bool SignServerTree(const std::string& base, const TreeSigning& signing, std::string& error);

// Checks every signed file below `base` against its signature file with the
// public key, as the launcher would at time `now`: one problem per file
// whose signature file is missing or fails a check. The serials of a tree
// are all the same; a tree that mixes serials is one problem.
void VerifyTreeSignatures(const std::string& base, const std::string& publicKeyHex, int64_t now,
                          std::vector<std::string>& problems);
