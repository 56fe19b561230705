// Helpers shared by the segmented downloader's tests.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/DownAntTrace.h"

namespace downant_test {

// Distinct, non-repeating-looking bytes.
inline std::string Bytes(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return data;
}

// Collects the trace records while it exists.
class TraceRecorder {
 public:
  TraceRecorder() {
    DOWNANT::SetDownAntTraceSink([this](std::string_view record) {
      std::lock_guard lock(mutex_);
      records_.emplace_back(record);
    });
  }
  ~TraceRecorder() { DOWNANT::SetDownAntTraceSink({}); }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  std::vector<std::string> Records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  // The texts, as "a,b:text".
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::string& record : Records()) {
      lines.push_back(std::to_string(static_cast<unsigned char>(record[1])) + "," +
                      std::to_string(static_cast<unsigned char>(record[2])) + ":" + std::string(record.c_str() + 4));
    }
    return lines;
  }
  bool Has(const std::string& line) const {
    for (const std::string& each : Lines()) {
      if (each == line) return true;
    }
    return false;
  }
  bool HasPrefix(const std::string& prefix) const {
    for (const std::string& each : Lines()) {
      if (each.starts_with(prefix)) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> records_;
};

}  // namespace downant_test
