// A delta codec: rebuilds a new file from an installed one and a delta, and
// makes such deltas.
#pragma once

#include <string>

class QoPatcher {
 public:
  virtual ~QoPatcher();

  // Kind of codec (2 for xdelta3).
  virtual int GetType() const = 0;

  // Writes to `delta` the delta that turns `source` into `newFile`. 0 on success.
  [[nodiscard]] virtual int MakeDelta(const std::string& source, const std::string& newFile,
                                      const std::string& delta) = 0;

  // Writes to `target` the file that `delta` makes from `source`. 0 on success.
  [[nodiscard]] virtual int ApplyDelta(const std::string& source, const std::string& delta,
                                       const std::string& target) = 0;
};
