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
// One launcher runs per launcher folder: each start takes the lock on
// "TovaLauncher.lock" before it changes anything and hands it on to the image
// that replaces it, so no second launcher can step in between; a second one
// says that a launcher is already running and ends. A relaunch after a
// self-update happens at most once per start by the user: the relaunched
// launcher knows it was relaunched and does not relaunch again.
//
// All names are relative to the current folder, the launcher's own.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileLock.h"

class DisplayOutput;

class CTovaLauncherApp {
 public:
  // Sets runBinFlag and repaireFlag from the whole command line (program path
  // included): each is set when its switch appears anywhere in it, as a
  // case-sensitive substring.
  void ScanCommandLine(std::string_view commandLine);

  // The start-up sequence for this process's command line. Returns the exit
  // status: 0 when the game client was started, 1 when the run ended in a
  // failure or a refusal, when another launcher runs in the folder, or when
  // the copy or the installed launcher could not be made or started. A
  // relaunch that succeeds does not return.
  int InitInstance();

  bool runBinFlag() const { return runBinFlag_; }
  bool repaireFlag() const { return repaireFlag_; }

 private:
  // The main window until it ends, showing on `display`. Returns the exit
  // status, or a status of its own when the installed launcher is to be
  // started again.
  int RunMainWindow(DisplayOutput& display);

  // Takes over the lock `handedOver` (a descriptor, -1: none) holds, or takes
  // the folder's lock. False when another launcher holds it; a lock file
  // that cannot be used is logged and the run goes on without it.
  bool TakeLock(int handedOver);

  // Replaces the process image with the command line's program, handing on
  // the lock and, with `relaunch`, the mark of a relaunch. Returns only when
  // that fails.
  void ReplaceImage(const std::string& commandLine, bool relaunch);

  bool runBinFlag_ = false;
  bool repaireFlag_ = false;
  bool relaunched_ = false;  // started by a relaunch after a self-update
  FileLock lock_;
};
