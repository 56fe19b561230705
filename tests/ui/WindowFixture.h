// A main window on the test's thread in a temporary game tree: the current
// folder is "<tree>/launcher", the game folder its parent, and the Wine
// prefix lies in the tree, so nothing outside it is read. Messages are sent
// from the test's thread and handled at once.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "tests/support/TempDir.h"
#include "tests/ui/WindowFakes.h"
#include "ui/CTovaLauncherDlg.h"

namespace uitest {

class WindowTest : public testing::Test {
 protected:
  WindowTest() {
    if (const char* prefix = std::getenv("WINEPREFIX")) savedPrefix_ = prefix;
    setenv("WINEPREFIX", (tree() / "wine").c_str(), 1);
  }
  ~WindowTest() override {
    dlg.reset();
    if (savedPrefix_) {
      setenv("WINEPREFIX", savedPrefix_->c_str(), 1);
    } else {
      unsetenv("WINEPREFIX");
    }
  }

  const std::filesystem::path& tree() const { return temp_.path(); }
  std::filesystem::path launcherDir() const { return tree() / "launcher"; }

  void Open(bool repaireFlag = false, bool relaunched = false,
            CTovaLauncherDlg::TimerClock clock = std::chrono::steady_clock::now) {
    dlg.reset();  // one window at a time: a window removes the presenter when it goes
    dlg = std::make_unique<CTovaLauncherDlg>(procedures, sink, frontEnd, repaireFlag, relaunched, std::move(clock));
    dlg->OnInitDialog();
  }
  void Send(MessageId id, WParam wParam = 0, LParam lParam = 0) { SendMessageTo(dlg->window(), id, wParam, lParam); }
  void SendText(MessageId id, const std::string& text) { Send(id, reinterpret_cast<WParam>(text.c_str())); }
  void SendSize(MessageId id, const std::string& size) { Send(id, 0, reinterpret_cast<LParam>(size.c_str())); }
  const std::string& Text(int id) const { return dlg->view().Text(id); }

  void WriteConfig(const std::string& text) { testsupport::WriteFile(launcherDir() / "launcher.ini", text); }
  void WriteGameList() { testsupport::WriteFile(tree() / "GameInfo.ini", "[GameInfo]\n"); }
  std::string LaunchLog() const { return testsupport::ReadFile(launcherDir() / "Launch.log"); }

  // A native client that records its arguments, one per line, and its
  // working folder in its own folder.
  void WriteRecordingClient() {
    WriteExecutable(tree() / "client" / "meadow_jp.exe",
                    "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\npwd > cwd.txt\n");
  }
  // Waits until the recording client has written both records (it runs
  // on after the launcher has started it); false after 10 seconds.
  bool WaitForClient() const {
    const std::filesystem::path done = tree() / "client" / "cwd.txt";
    const auto written = [&done] {
      std::error_code error;
      const uintmax_t size = std::filesystem::file_size(done, error);
      return !error && size > 0;
    };
    for (int i = 0; i < 1000 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return written();
  }
  // The recording client's arguments and working folder; empty before it ran.
  std::string ClientArguments() const { return testsupport::ReadFile(tree() / "client" / "args.txt"); }
  std::string ClientFolder() const { return testsupport::ReadFile(tree() / "client" / "cwd.txt"); }
  void ForgetClientRun() const {
    std::filesystem::remove(tree() / "client" / "args.txt");
    std::filesystem::remove(tree() / "client" / "cwd.txt");
  }
  static void WriteExecutable(const std::filesystem::path& path, const std::string& text) {
    testsupport::WriteFile(path, text);
    chmod(path.c_str(), 0755);
  }

  RecordingSink sink;
  RecordingProcedures procedures;
  ScriptedFrontEnd frontEnd;

 private:
  testsupport::TempDir temp_;
  std::optional<std::string> savedPrefix_;
  static std::filesystem::path MakeFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    return folder;
  }
  testsupport::CurrentDirScope cwd_{MakeFolder(temp_.path() / "launcher")};

 protected:
  std::unique_ptr<CTovaLauncherDlg> dlg;  // last: destroyed first
};

}  // namespace uitest
