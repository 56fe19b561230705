// VCDIFF deltas through the xdelta3 program, run as a child process (found
// along PATH) with a fixed argument vector and no shell. Paths are in the
// launcher's "\" form. The object holds no state: the shared instance may be
// used from any thread, each call waiting for its own child.
#pragma once

#include "patch/QoPatcher.h"

class QoPatcher_xdelta final : public QoPatcher {
 public:
  // The shared instance, created on first use and kept until the process ends.
  static QoPatcher_xdelta& GetInstance();

  int GetType() const override { return 2; }

  // Runs "xdelta3 -v -e -s source newFile <part>" and writes "QOXD" 0x00
  // followed by the delta to `delta`, through the work file `delta` + ".part"
  // (removed afterwards). 0 on success; 2 when xdelta3 cannot be started or
  // fails (logged), or the result cannot be written.
  [[nodiscard]] int MakeDelta(const std::string& source, const std::string& newFile, const std::string& delta) override;

  // Deletes `target`, then runs "xdelta3 -v -d -s source delta target", whose
  // `delta` holds a bare VCDIFF delta. 0 on success; 2 when xdelta3 cannot be
  // started or ends with a non-zero status or a signal. Both failures are
  // logged ("FILE =..., Line =...,") with xdelta3's last message.
  [[nodiscard]] int ApplyDelta(const std::string& source, const std::string& delta, const std::string& target) override;
};
