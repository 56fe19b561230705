#include "Procedure/MetadataSignature.h"

#include <ctime>

#include "Procedure/AcceptedSerial.h"
#include "Procedure/LauncherConfig.h"
#include "patch/SignedFileRecord.h"
#include "platform/SystemPath.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

namespace {

SignatureCheck Check(const SignatureFetch& fetch, const std::string& address, const std::string& localPath,
                     std::string_view pathBelowBase) {
  const std::string signaturePath = localPath + kSignatureFileSuffix;
  if (!fetch(address + kSignatureFileSuffix, signaturePath, kSignatureFileMaxBytes)) {
    DeleteFile(signaturePath);  // a partial download, if any: nothing to keep
    return SignatureCheck::kMissing;
  }
  std::string text;
  const bool read = ReadSmallFile(signaturePath, kSignatureFileMaxBytes, text);
  DeleteFile(signaturePath);  // read once; only the file itself stays
  if (!read) return SignatureCheck::kMalformed;

  std::string path = ToSystemPath(pathBelowBase);
  if (path.starts_with('/')) path.erase(0, 1);
  SignedFileRecord record;
  const SignatureExpectation expected{SigningPublicKey(), path, static_cast<int64_t>(std::time(nullptr)),
                                      ReadAcceptedSerial()};
  const SignatureCheck check = CheckSignedFile(text, localPath, expected, record);
  // A serial that cannot be kept would let a rollback through after a restart.
  if (check == SignatureCheck::kValid && !RaiseAcceptedSerial(record.serial)) return SignatureCheck::kRollback;
  return check;
}

}  // namespace

bool MetadataSignaturesRequired() { return !SigningPublicKey().empty(); }

bool CheckMetadataSignature(const SignatureFetch& fetch, const std::string& address, const std::string& localPath,
                            std::string_view pathBelowBase) {
  const SignatureCheck check = Check(fetch, address, localPath, pathBelowBase);
  if (check == SignatureCheck::kValid) return true;
  WriteLaunchLog("Signature check failed (%s): %s", SignatureCheckName(check), address.c_str());
  DeleteFile(localPath);
  return false;
}
