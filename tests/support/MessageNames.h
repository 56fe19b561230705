// Names of the launcher's messages for test traces, so that a recorded message
// reads "UM_UPDATE_FILE_TOTAL" rather than "4509".
#pragma once

#include <string>

#include "platform/MessageWindow.h"

namespace testsupport {

// The name of the message's constant ("UM_PAGE_INDEX"), or its number in hex
// ("0x1234") for an id that is no launcher message.
std::string MessageName(MessageId id);

}  // namespace testsupport
