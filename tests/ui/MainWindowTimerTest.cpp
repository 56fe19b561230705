// The remaining-time timer as the window's loop schedules it, on a clock of
// the test's own that moves on 100 ms at each turn of the front-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "tests/ui/WindowFixture.h"

namespace uitest {
namespace {

using namespace std::chrono_literals;
using MainWindowTimerTest = WindowTest;

// The first tick comes 1000 ms after UM_INSTALL_TIMER_START and the next
// every 1000 ms; UM_PAGES_BEGIN stops the timer and a later
// UM_INSTALL_TIMER_START does not start it again. A tick shows the download's
// progress, and each turn adds a byte, so every tick changes what is shown.
TEST_F(MainWindowTimerTest, FirstTickASecondAfterTheStartNoneAfterThePagesNeverAgain) {
  std::chrono::steady_clock::time_point now{};
  Open(false, false, [&now] { return now; });
  const std::string total = "1000000.000000";
  SendSize(UM_INSTALL_TOTAL_SIZE, total);
  const std::string speed = "1";
  Send(UM_DOWNLOAD_SPEED, 1, reinterpret_cast<LParam>(speed.c_str()));
  Send(UM_INSTALL_TIMER_START);

  std::vector<long> ticks;  // milliseconds after the start
  std::string shown = Text(IDC_PERCENT);
  WParam done = 0;
  frontEnd.onPump = [&] {
    const long at = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    if (Text(IDC_PERCENT) != shown) {
      ticks.push_back(at);
      shown = Text(IDC_PERCENT);
    }
    if (at == 2500) Send(UM_PAGES_BEGIN);
    if (at == 3000) Send(UM_INSTALL_TIMER_START);
    if (at == 6000) dlg->OnCommand(IDC_CLOSE_BUTTON);
    Send(UM_DOWNLOAD_BYTES, ++done, 1000000);
    now += 100ms;
  };

  dlg->RunModalLoop();

  EXPECT_EQ(ticks, (std::vector<long>{1000, 2000}));
}

// The window as a front-end sees it through an installation's download (the
// timer's ticks) and a patch's (the bytes of its packages): the percentage
// moves while the bytes arrive, and in every view shown the bar stands at the
// percentage's whole part.
TEST_F(MainWindowTimerTest, WhileTheBytesArriveTheBarStandsAtThePercentageShown) {
  std::chrono::steady_clock::time_point now{};
  Open(false, false, [&now] { return now; });
  const std::string installTotal = "1000000.000000";
  SendSize(UM_INSTALL_TOTAL_SIZE, installTotal);
  const std::string speed = "9.8K";
  Send(UM_DOWNLOAD_SPEED, 10000, reinterpret_cast<LParam>(speed.c_str()));
  Send(UM_INSTALL_TIMER_START);

  const std::string patchTotal = "400000.000000";
  const std::string firstPackage = "200000.000000";
  WParam received = 0;
  frontEnd.onPump = [&] {
    const long at = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    if (at == 3000) {
      Send(UM_PAGES_BEGIN);
      Send(UM_GAMEPATCH_TOTAL_SIZE, 0, reinterpret_cast<LParam>(patchTotal.c_str()));
      received = 0;
    }
    if (at == 4000) {
      Send(UM_GAMEPATCH_DONE_SIZE, 0, reinterpret_cast<LParam>(firstPackage.c_str()));
      received = 0;
    }
    if (at == 5000) dlg->OnCommand(IDC_CLOSE_BUTTON);
    received += 20000;
    Send(UM_DOWNLOAD_BYTES, received, at < 3000 ? 1000000 : 200000);
    now += 100ms;
  };

  dlg->RunModalLoop();

  std::vector<std::string> percents;
  for (const MainWindowView& view : frontEnd.views()) {
    const std::string& percent = view.Text(IDC_PERCENT);
    if (percent.empty()) continue;
    if (percents.empty() || percents.back() != percent) percents.push_back(percent);
    const double p = std::stod(percent);
    EXPECT_EQ(view.progressPosition, std::clamp(static_cast<int>(p), kProgressLower, kProgressUpper)) << percent;
  }
  // Ticks at 1 and 2 s; twenty reports of each of the two packages.
  EXPECT_GE(percents.size(), 2u + 20u);
  EXPECT_EQ(percents.back(), "100.00%");
}

}  // namespace
}  // namespace uitest
