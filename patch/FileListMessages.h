// Messages of the version file list reader. Receivers answer every message
// with 0.
#pragma once

#include "platform/MessageWindow.h"

// Version file list reader to the window it was given; Send.
inline constexpr MessageId UM_FILELIST_PARSE_BEGIN = 0x4700;
inline constexpr MessageId UM_FILELIST_PARSE_PERCENT = 0x4701;
inline constexpr MessageId UM_FILELIST_PARSE_END = 0x4702;
