#include "transfer/DownAntTrace.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

namespace DOWNANT {
namespace {

// The viewer's text buffer holds 2048 bytes with the NUL.
constexpr size_t kMaxTraceText = 2047;
constexpr char kRecordKind = 1;
// The record's length counts four bytes beyond the text's NUL.
constexpr size_t kRecordPadding = 4;

std::mutex sinkMutex;
std::shared_ptr<const DownAntTraceSink> installedSink;  // guarded by sinkMutex

std::shared_ptr<const DownAntTraceSink> CurrentSink() {
  std::lock_guard lock(sinkMutex);
  return installedSink;
}

}  // namespace

std::string FormatDownAntTextV(size_t maxBytes, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  if (text.size() > maxBytes) text.resize(maxBytes);
  return text;
}

std::string FormatDownAntText(size_t maxBytes, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatDownAntTextV(maxBytes, format, args);
  va_end(args);
  return text;
}

void SetDownAntTraceSink(DownAntTraceSink sink) {
  auto installed = sink ? std::make_shared<const DownAntTraceSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(sinkMutex);
  installedSink = std::move(installed);
}

void DownAntTrace(uint8_t a, uint8_t b, const char* format, ...) {
  const std::shared_ptr<const DownAntTraceSink> sink = CurrentSink();
  if (!sink) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatDownAntTextV(kMaxTraceText, format, args);
  va_end(args);

  std::string record{kRecordKind, static_cast<char>(a), static_cast<char>(b), '\0'};
  record += text;
  record.append(1 + kRecordPadding, '\0');
  (*sink)(record);
}

}  // namespace DOWNANT
