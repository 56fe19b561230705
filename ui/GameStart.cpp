#include "ui/GameStart.h"

#include <memory>
#include <system_error>

#include "platform/MessageBox.h"
#include "platform/ProcessLauncher.h"
#include "ui/EventSink.h"
#include "ui/StatusTexts.h"
#include "ui/TextFormat.h"
#include "util/Encoding.h"
#include "util/LaunchLog.h"

namespace {

constexpr const char* kRuntimeName = "Microsoft Visual C++ 2013 Redistributable (x64)";
// "DisplayName" is read into 1024 bytes: 511 UTF-16 units and the terminator.
constexpr size_t kDisplayNameUnits = 1024 / sizeof(char16_t) - 1;
// "状态333" in code page 936.
constexpr const char* kRuntimeMissingLog =
    "\xD7\xB4\xCC\xAC"
    "333";
constexpr const char* kRuntimeMissingText =
    "VC++が見つかなかったため、ゲームを正常に起動する事ができませんでした。Microsoft Visual "
    "C++のインストール後に再度起動する事を推奨致します。";

}  // namespace

std::string ClientCommandLine() { return std::string(kClientProgram) + kClientArguments + " "; }

bool IsVcRedist2013x64Installed(const std::string& clientProgram, const std::string& hivePath) {
  if (IsNativeProgram(clientProgram)) return true;
  for (const UninstallEntry& entry : ListUninstallEntries(kUninstallKey, hivePath)) {
    if (!entry.subkey.starts_with("{")) continue;
    if (Utf8ToWide(entry.displayName).size() > kDisplayNameUnits) continue;  // the read fails
    if (entry.displayName.find(kRuntimeName) != std::string::npos) return true;
  }
  return false;
}

void RunVcRedist(std::chrono::milliseconds wait) {
  const std::unique_ptr<ProcessHandle> installer = StartProcess(kVcRedistProgram, "");
  if (installer) installer->Wait(wait);
}

std::thread StartGame(GameStartHost& host) {
  if (!IsVcRedist2013x64Installed()) {
    WriteLaunchLog("%s", kRuntimeMissingLog);
    if (ShowMessageBox(kRuntimeMissingText, kMessageCaption, host.Window()) == kMessageBoxYes) RunVcRedist();
  }
  try {
    return std::thread([&host] { GameStartThread(host); });
  } catch (const std::system_error&) {
    GameStartThread(host);
    return {};
  }
}

int GameStartThread(GameStartHost& host) {
  const std::string commandLine = ClientCommandLine();
  const std::string folder = commandLine.substr(0, commandLine.rfind('\\'));
  WriteLaunchLog("start patch kelvo= %s ,cmdline =%s", folder.c_str(), commandLine.c_str());
  int error = 0;
  if (StartProcess(commandLine, folder, &error)) {
    host.Events().ReportAsync("LE_GameStartSuccess", "");
    host.EndWindow(true);
    return 0;
  }
  host.Events().ReportAsync("LE_GameStartError", FormatText("%d", error));
  host.ShowStatus(kStatusStartFailed);
  ShowMessageBox(kStatusStartFailed, kMessageCaption, host.Window());
  host.EndWindow(false);
  return 1;
}
