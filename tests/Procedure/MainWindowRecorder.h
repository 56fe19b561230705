// A stand-in for the main window in the procedure tests: a message window on
// the test's thread that records every message it handles, the text of
// UM_DOWNLOAD_SPEED as it reads during the send, and the tick of arrival.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Procedure/ProcedureMessages.h"
#include "platform/Clock.h"
#include "platform/MessageWindow.h"

namespace testsupport {

struct RecordedMessage {
  Message message;
  std::string speedText;  // UM_DOWNLOAD_SPEED only
  uint32_t tick = 0;
};

class MainWindowRecorder {
 public:
  std::vector<RecordedMessage> messages;
  // Called after a message was recorded, still inside the send.
  std::function<void(const Message&)> onMessage;

  MessageWindow* window() { return &window_; }

  std::vector<MessageId> Ids() const {
    std::vector<MessageId> ids;
    for (const RecordedMessage& recorded : messages) ids.push_back(recorded.message.id);
    return ids;
  }
  // The messages other than the download progress and retry ones.
  std::vector<MessageId> WorkflowIds() const {
    std::vector<MessageId> ids = Ids();
    std::erase_if(ids, [](MessageId id) {
      return id == UM_DOWNLOAD_BYTES || id == UM_DOWNLOAD_SPEED || id == UM_DOWNLOAD_RETRY;
    });
    return ids;
  }
  std::vector<RecordedMessage> Only(MessageId id) const {
    std::vector<RecordedMessage> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [id](const RecordedMessage& recorded) { return recorded.message.id == id; });
    return found;
  }
  bool Has(MessageId id) const { return !Only(id).empty(); }

 private:
  MessageWindow window_{[this](const Message& message) {
    RecordedMessage recorded{message, "", GetTickCount32()};
    if (message.id == UM_DOWNLOAD_SPEED) recorded.speedText = reinterpret_cast<const char*>(message.lParam);
    messages.push_back(recorded);
    if (onMessage) onMessage(message);
  }};
};

}  // namespace testsupport
