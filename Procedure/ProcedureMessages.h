// Messages of the procedures, the manager and the download command window
// to the main window. Arguments are pointer-sized; texts are addresses of
// 8-bit strings owned by the sender and valid only while a sent message is
// handled. Receivers answer every message with 0 and no sender looks at the
// answer.
#pragma once

#include "platform/MessageWindow.h"

// Procedures, the manager and the command window to the main window,
// progress; Send, except UM_GAMEPATCH_ERROR which is posted (and which
// nothing sends).
inline constexpr MessageId UM_REPAIR_COMPARE_PERCENT = 0x4904;
inline constexpr MessageId UM_REPAIR_LAUNCHED = 0x491c;
inline constexpr MessageId UM_GAMEPATCH_ERROR = 0x491d;
inline constexpr MessageId UM_REPAIR_ABORTED = 0x4922;
inline constexpr MessageId UM_DOWNLOAD_SPEED = 0x4925;
inline constexpr MessageId UM_DOWNLOAD_BYTES = 0x4926;
inline constexpr MessageId UM_LATEST_VERSION = 0x4927;
inline constexpr MessageId UM_CURRENT_VERSION = 0x4928;
inline constexpr MessageId UM_REPAIR_FILE_TOTAL = 0x4929;
inline constexpr MessageId UM_REPAIR_FILE_STEP = 0x492a;
inline constexpr MessageId UM_REPAIR_FILE_NAME = 0x492b;
// Download service to the main window, from the downloading worker: wParam
// the number of the attempt about to start (2 or more), lParam the number of
// attempts a download gets.
inline constexpr MessageId UM_DOWNLOAD_RETRY = 0x4963;

// Launcher self-update, from the manager's thread; Send.
inline constexpr MessageId UM_SELFPATCH_START = 0x492c;
inline constexpr MessageId UM_SELFPATCH_FAIL_DOWN_VERSION = 0x492d;
inline constexpr MessageId UM_SELFPATCH_FAIL_READ_VERSION = 0x492e;
inline constexpr MessageId UM_SELFPATCH_FAIL_DOWN_GAMEINFO = 0x492f;
inline constexpr MessageId UM_SELFPATCH_FAIL_CMP_GAMEINFO = 0x4930;
inline constexpr MessageId UM_SELFPATCH_FAIL_CREATE_DIR = 0x4931;
inline constexpr MessageId UM_SELFPATCH_FAIL_DOWN_FILE = 0x4932;
inline constexpr MessageId UM_SELFPATCH_FAIL_REPLACE_FILE = 0x4933;
inline constexpr MessageId UM_SELFPATCH_FAIL_REPLACE_GAMEINFO = 0x4934;
inline constexpr MessageId UM_SELFPATCH_NONEED = 0x4935;
inline constexpr MessageId UM_SELFPATCH_DONE = 0x4936;

// Game patch, from the manager's thread (start, results) and the patch
// procedure (progress); Send.
inline constexpr MessageId UM_GAMEPATCH_START = 0x4937;
inline constexpr MessageId UM_GAMEPATCH_UPDATING = 0x4938;
inline constexpr MessageId UM_GAMEPATCH_DOWNLOAD_BEGIN = 0x4939;
inline constexpr MessageId UM_GAMEPATCH_TOTAL_SIZE = 0x493a;
inline constexpr MessageId UM_GAMEPATCH_DONE_SIZE = 0x493b;
inline constexpr MessageId UM_GAMEPATCH_COUNT = 0x493c;
inline constexpr MessageId UM_GAMEPATCH_INDEX = 0x493d;
inline constexpr MessageId UM_GAMEPATCH_FAIL_CHECK_GAMEINFO = 0x493e;
inline constexpr MessageId UM_GAMEPATCH_FAIL_CREATE_DIR = 0x493f;
inline constexpr MessageId UM_GAMEPATCH_FAIL_PATCH_FILE = 0x4940;
inline constexpr MessageId UM_GAMEPATCH_FAIL_ANALYSE = 0x4941;
inline constexpr MessageId UM_GAMEPATCH_FAIL_CLIENT_VERSION = 0x4942;
inline constexpr MessageId UM_GAMEPATCH_FAIL_GAME_RUNNING = 0x4943;
inline constexpr MessageId UM_GAMEPATCH_FAIL_DOWN_PATCH = 0x4944;
inline constexpr MessageId UM_GAMEPATCH_FAIL_FILE_UPDATE = 0x4945;
inline constexpr MessageId UM_GAMEPATCH_NONEED = 0x4946;
inline constexpr MessageId UM_GAMEPATCH_DONE = 0x4947;

// Repair (install through repair, game repair), from the manager's thread; Send.
inline constexpr MessageId UM_REPAIR_START = 0x4948;
inline constexpr MessageId UM_REPAIR_FAIL_DOWN_VERSION = 0x4949;
inline constexpr MessageId UM_REPAIR_FAIL_READ_VERSION = 0x494a;
inline constexpr MessageId UM_REPAIR_FAIL_DOWN_GAMEINFO = 0x494b;
inline constexpr MessageId UM_REPAIR_FAIL_CMP_GAMEINFO = 0x494c;
inline constexpr MessageId UM_REPAIR_FAIL_CREATE_DIR = 0x494d;
inline constexpr MessageId UM_REPAIR_FAIL_DOWN_FILE = 0x494e;
inline constexpr MessageId UM_REPAIR_FAIL_REPLACE_FILE = 0x494f;
inline constexpr MessageId UM_REPAIR_FAIL_REPLACE_GAMEINFO = 0x4950;
inline constexpr MessageId UM_REPAIR_NONEED = 0x4951;
inline constexpr MessageId UM_REPAIR_DONE = 0x4952;

// Game install, from the manager's thread (start, results) and the install
// procedure (progress); Send.
inline constexpr MessageId UM_INSTALL_START = 0x4953;
inline constexpr MessageId UM_INSTALL_TOTAL_SIZE = 0x4954;
inline constexpr MessageId UM_INSTALL_PAGE_COUNT = 0x4955;
inline constexpr MessageId UM_INSTALL_DONE_SIZE = 0x4956;
inline constexpr MessageId UM_INSTALL_PAGE_INDEX = 0x4957;
inline constexpr MessageId UM_INSTALL_FAIL_DOWN_PAGE = 0x4958;
inline constexpr MessageId UM_INSTALL_FAIL_USER_CANCEL = 0x4959;
inline constexpr MessageId UM_INSTALL_DONE = 0x495a;
inline constexpr MessageId UM_INSTALL_FAIL_DOWN_VERSION = 0x495b;
inline constexpr MessageId UM_INSTALL_FAIL_READ_VERSION = 0x495c;
inline constexpr MessageId UM_INSTALL_FAIL_CREATE_DIR = 0x495d;
inline constexpr MessageId UM_INSTALL_FAIL_DOWN_INI = 0x495e;
inline constexpr MessageId UM_INSTALL_FAIL_FILE_SIZE = 0x495f;
inline constexpr MessageId UM_INSTALL_FAIL_ANALYSE = 0x4960;
inline constexpr MessageId UM_INSTALL_FAIL_UNZIP_PAGE = 0x4961;
inline constexpr MessageId UM_INSTALL_TIMER_START = 0x4962;
