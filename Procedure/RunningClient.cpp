#include "Procedure/RunningClient.h"

#include <memory>

#include "platform/MessageBox.h"
#include "util/LaunchLog.h"
#include "util/ProcessLookup.h"

namespace {
constexpr const char* kClientName = "meadow_jp.exe";
constexpr const char* kClientRunningText = "ゲームを起動中!\r\n終了しますか?";
}  // namespace

bool EndRunningClient(MessageWindow* owner, const char* sourceName, int sourceLine) {
  const std::unique_ptr<ProcessHandle> client = OpenProcessByName(kClientName);
  if (!client) return true;
  if (ShowMessageBox(kClientRunningText, kMessageCaption, owner) != kMessageBoxYes) return false;
  int error = 0;
  if (!client->Terminate(&error)) {
    WriteSourceLineLog(sourceName, sourceLine, "TerminateProcess Error,  errorcode =%d  ", error);
    return false;
  }
  return true;
}
