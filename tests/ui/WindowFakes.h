// Stand-ins around the main window's logic in the ui tests: an event sink
// that records every report, procedures that record their start calls, and a
// front-end with scripted answers. Each can be used from any thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ui/EventSink.h"
#include "ui/FrontEnd.h"
#include "ui/ProcedureControl.h"

namespace uitest {

struct Event {
  std::string name;
  std::string text;
  bool async = false;
  bool operator==(const Event&) const = default;
  friend void PrintTo(const Event& event, std::ostream* out) {
    *out << "{" << event.name << ", \"" << event.text << "\"" << (event.async ? ", async" : "") << "}";
  }
};

class RecordingSink : public EventSink {
 public:
  void Report(std::string_view name, std::string_view text) override {
    Add({std::string(name), std::string(text), false});
  }
  void ReportAsync(std::string_view name, std::string_view text) override {
    Add({std::string(name), std::string(text), true});
  }
  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events other than "LE_LauncherStart".
  std::vector<Event> chain() const {
    std::vector<Event> found = events();
    std::erase_if(found, [](const Event& event) { return event.name == "LE_LauncherStart"; });
    return found;
  }
  std::vector<Event> named(std::string_view name) const {
    std::vector<Event> found = events();
    std::erase_if(found, [name](const Event& event) { return event.name != name; });
    return found;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  void Add(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

struct StartCall {
  std::string operation;  // "self", "patch", "repair", "install"
  std::string baseUrl;
  bool operator==(const StartCall&) const = default;
  friend void PrintTo(const StartCall& call, std::ostream* out) {
    *out << "{" << call.operation << ", " << call.baseUrl << "}";
  }
};

class RecordingProcedures : public ProcedureControl {
 public:
  MessageWindow* initWindow = nullptr;
  std::vector<StartCall> starts;
  bool result = true;  // what every start returns

  void Init(MessageWindow* mainWindow) override { initWindow = mainWindow; }
  bool StartSelfPatch() override { return Record("self", ""); }
  bool StartGamePatch(std::string baseUrl) override { return Record("patch", baseUrl); }
  bool StartGameRepair(std::string baseUrl) override { return Record("repair", baseUrl); }
  bool StartGameInstall(std::string baseUrl) override { return Record("install", baseUrl); }
  void Stop() override { ++stops; }
  int stops = 0;

 private:
  bool Record(const char* operation, std::string baseUrl) {
    starts.push_back({operation, std::move(baseUrl)});
    return result;
  }
};

struct Question {
  std::string text;
  std::string caption;
  std::string statusShown;  // the status line of the last view shown before it
};

class ScriptedFrontEnd : public FrontEnd {
 public:
  void Show(const MainWindowView& view) override {
    std::lock_guard lock(mutex_);
    views_.push_back(view);
  }
  int Ask(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    questions_.push_back({text, caption, views_.empty() ? "" : views_.back().Text(IDC_STATUS)});
    if (answers_.empty()) return 2;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  void WaitForClose(const std::string& reason) override {
    ++closeWaits;
    closeReason = reason;
  }
  void Pump() override {
    if (onPump) onPump();
  }

  void Answer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
  }
  std::vector<Question> questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
  }
  std::vector<MainWindowView> views() const {
    std::lock_guard lock(mutex_);
    return views_;
  }

  int closeWaits = 0;
  std::string closeReason;       // given to the last WaitForClose
  std::function<void()> onPump;  // the front-end's turn in the window's loop

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<Question> questions_;
  std::vector<MainWindowView> views_;
};

}  // namespace uitest
