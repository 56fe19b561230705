// Game start: the check for the Visual C++ 2013 runtime (x64) that a Windows
// client needs, the offer to run its installer "vcredist.exe", and the start
// of the game client "..\client\meadow_jp.exe" from a thread of its own, with
// its events and its failure dialog. Whatever the outcome, the window ends.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "platform/MachineHive.h"
#include "platform/MessageWindow.h"

class EventSink;

// The client, relative to the launcher's folder, and its arguments.
inline constexpr const char* kClientProgram = "..\\client\\meadow_jp.exe";
inline constexpr const char* kClientArguments = " -screen-width 1280 -screen-height 720 -screen-fullscreen 0";
// The runtime's installer in the launcher's folder, and how long it is waited for.
inline constexpr const char* kVcRedistProgram = ".\\vcredist.exe";
inline constexpr std::chrono::milliseconds kVcRedistWait{120000};
// Where the runtime's uninstall entry lies (HKEY_LOCAL_MACHINE).
inline constexpr const char* kUninstallKey = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The client's command line: program and arguments followed by one blank.
std::string ClientCommandLine();

// True when `clientProgram` is a native program (an ELF file or a "#!"
// script), which needs no Windows runtime, or when an uninstall entry of the
// Wine prefix's hive at `hivePath` whose key name begins with "{" has a
// "DisplayName" of at most 511 UTF-16 units (what a 1024-byte read holds)
// that contains "Microsoft Visual C++ 2013 Redistributable (x64)". Any thread.
bool IsVcRedist2013x64Installed(const std::string& clientProgram = kClientProgram,
                                const std::string& hivePath = MachineHivePath());

// Runs the installer (through Wine when it is a Windows program) in the
// current folder and waits for it to end, at most `wait`. Its exit code is
// ignored; when it cannot be started the call returns at once.
void RunVcRedist(std::chrono::milliseconds wait = kVcRedistWait);

// What the game start needs from the main window.
class GameStartHost {
 public:
  virtual ~GameStartHost() = default;
  // The owner of the message boxes.
  virtual MessageWindow* Window() = 0;
  virtual EventSink& Events() = 0;
  // Any thread: shows `text` in the status line (done by the window's thread).
  virtual void ShowStatus(const std::string& text) = 0;
  // Any thread: asks the window's thread to end the window with the cancel
  // result; `clientStarted` tells how the launcher's run ended.
  virtual void EndWindow(bool clientStarted) = 0;
};

// On the window's thread: when the runtime is missing, writes the code page
// 936 line "状态333" to the launch log and offers the installer; then starts
// GameStartThread on a new thread and returns it for the caller to join
// (delivering the window's messages meanwhile). When no thread can be
// started, runs GameStartThread on the calling thread and returns an empty
// thread.
std::thread StartGame(GameStartHost& host);

// Logs the command line, starts the client in "..\client" without waiting for
// it, and reports "LE_GameStartSuccess"; on failure reports
// "LE_GameStartError" with the error code, shows the failure in the status
// line and in a message box. Then ends the window. Returns 0 when the client
// started, 1 when not.
int GameStartThread(GameStartHost& host);
