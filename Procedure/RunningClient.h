// The game client must not run while its files change. Before a repair or a
// patch the procedures look for it and, with the user's consent, end it.
#pragma once

class MessageWindow;

// The caption of the launcher's questions and notices.
inline constexpr const char* kMessageCaption = "メッセージ";

// True when no game client runs, or the user agreed (asked in a message box
// owned by `owner`) and it was ended. False when the user declined, or when it
// could not be ended: then the line "TerminateProcess Error" is logged with
// the caller's source name and line number. Any thread.
[[nodiscard]] bool EndRunningClient(MessageWindow* owner, const char* sourceName, int sourceLine);
