// Messages of the downloaders. Arguments are pointer-sized; receivers answer
// every message with 0 and no sender looks at the answer.
#pragma once

#include "platform/MessageWindow.h"

// Downloader to the download command window; Send; wParam the job's cookie,
// lParam the downloader (CAutoDownload*).
inline constexpr MessageId UM_DOWNLOAD_STATE = 0x3401;
inline constexpr MessageId UM_DOWNLOAD_PROGRESS = 0x3402;
