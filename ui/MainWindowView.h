// What the main window shows, as data: the texts of its text controls, the
// progress bar's position, the state of its start button and how the window
// itself is shown. The window logic (CTovaLauncherDlg) keeps one and hands it
// to the front-end after every change; front-ends only draw it.
#pragma once

#include <array>
#include <cassert>
#include <string>

// Text controls of the main window (ids as in the dialog).
inline constexpr int IDC_CURRENT_VERSION_LABEL = 1011;  // "現在のVer: "
inline constexpr int IDC_CURRENT_VERSION = 1012;
inline constexpr int IDC_LATEST_VERSION_LABEL = 1013;  // "最新Ver: "
inline constexpr int IDC_LATEST_VERSION = 1014;
inline constexpr int IDC_COUNT_LABEL = 1015;     // counter label or "残り時間"
inline constexpr int IDC_COUNT = 1016;           // "%d/%d" or the remaining time
inline constexpr int IDC_SPEED_LABEL = 1017;     // "DL速度: "
inline constexpr int IDC_SPEED = 1018;           // "%sB/s"
inline constexpr int IDC_PROGRESS_LABEL = 1019;  // "進捗状況: "
inline constexpr int IDC_PERCENT = 1020;
inline constexpr int IDC_STATUS = 1021;
inline constexpr int kFirstTextControl = IDC_CURRENT_VERSION_LABEL;
inline constexpr int kLastTextControl = IDC_STATUS;

// The progress bar and the three buttons, which stay hidden.
inline constexpr int IDC_PROGRESS = 1002;
inline constexpr int IDC_START_BUTTON = 1024;
inline constexpr int IDC_CLOSE_BUTTON = 1007;
inline constexpr int IDC_MINIMIZE_BUTTON = 1025;

// The progress bar's range; its step is 0.
inline constexpr int kProgressLower = 1;
inline constexpr int kProgressUpper = 100;

struct MainWindowView {
  // Texts of the controls kFirstTextControl to kLastTextControl, UTF-8.
  std::array<std::string, kLastTextControl - kFirstTextControl + 1> texts;
  int progressPosition = kProgressLower;
  bool startButtonEnabled = true;
  bool minimized = false;
  bool topmost = false;

  std::string& Text(int id) {
    assert(id >= kFirstTextControl && id <= kLastTextControl);
    return texts[static_cast<size_t>(id - kFirstTextControl)];
  }
  const std::string& Text(int id) const {
    assert(id >= kFirstTextControl && id <= kLastTextControl);
    return texts[static_cast<size_t>(id - kFirstTextControl)];
  }
  bool operator==(const MainWindowView&) const = default;
};
