// Start-up of the launcher program and its relaunch after a self-update.
//
// The installed launcher "TovaLauncher.exe" never does the work itself: it
// rotates the launch log, copies itself to "TovaLaunch.bin" (retrying while
// an earlier copy still holds that name) and replaces its process image with
// the copy, started with "-runbin" (and "-repaire" when given). The copy runs
// the main window with the terminal front-end. When the self-update has
// replaced launcher files, the copy replaces its image with the installed
// launcher, and the cycle begins anew. Replacing the image (instead of
// starting a second process and ending) leaves the installed executable free
// to be overwritten, and the caller's terminal and wait see one run.
//
// All names are relative to the current folder, the launcher's own.
#pragma once

#include <string>
#include <string_view>

class DisplayOutput;

class CTovaLauncherApp {
 public:
  // Sets runBinFlag and repaireFlag from the whole command line (program path
  // included): each is set when its switch appears anywhere in it, as a
  // case-sensitive substring.
  void ScanCommandLine(std::string_view commandLine);

  // The start-up sequence for this process's command line. Returns the exit
  // status: 0 when the game client was started, 1 when the run ended in a
  // failure or a refusal, or when the copy could not be made or started. A
  // relaunch that succeeds does not return.
  int InitInstance();

  bool runBinFlag() const { return runBinFlag_; }
  bool repaireFlag() const { return repaireFlag_; }

 private:
  // The main window until it ends, showing on `display`. Returns the exit
  // status, or a status of its own when the installed launcher is to be
  // started again.
  int RunMainWindow(DisplayOutput& display);

  bool runBinFlag_ = false;
  bool repaireFlag_ = false;
};
