// Messages of the patch applier. Arguments are pointer-sized; texts are
// addresses of 8-bit strings owned by the sender and valid only while a sent
// message is handled. Receivers answer every message with 0.
#pragma once

#include "platform/MessageWindow.h"

// Patch applier (and delta step) to the main window; Send, except
// UM_PATCH_ERROR which is posted (and which nothing sends).
inline constexpr MessageId UM_PATCH_ERROR = 0x4506;
inline constexpr MessageId UM_UPDATE_FILES_BEGIN = 0x4507;
inline constexpr MessageId UM_UPDATE_FILES_FAILED = 0x4508;
inline constexpr MessageId UM_UPDATE_FILE_TOTAL = 0x4509;
inline constexpr MessageId UM_UPDATE_UNPACK_BEGIN = 0x450a;
inline constexpr MessageId UM_UPDATE_FILE_INDEX = 0x450b;
inline constexpr MessageId UM_UPDATE_FILE_NAME = 0x450c;
inline constexpr MessageId UM_UPDATE_ANALYSE_BEGIN = 0x450d;
inline constexpr MessageId UM_UPDATE_COPY_BEGIN = 0x450e;
inline constexpr MessageId UM_UPDATE_CLEANUP_BEGIN = 0x450f;
inline constexpr MessageId UM_UPDATE_FILES_DONE = 0x4510;
inline constexpr MessageId UM_PAGES_BEGIN = 0x4511;
inline constexpr MessageId UM_PAGE_TOTAL = 0x4512;
inline constexpr MessageId UM_PAGES_UNPACK_BEGIN = 0x4513;
inline constexpr MessageId UM_PAGE_NAME = 0x4514;
inline constexpr MessageId UM_PAGE_INDEX = 0x4515;
inline constexpr MessageId UM_PAGE_MISSING = 0x4516;
inline constexpr MessageId UM_PAGE_UNZIP_FAILED = 0x4517;
inline constexpr MessageId UM_PAGES_DONE = 0x4518;
