// The machine's uninstall entries (HKEY_LOCAL_MACHINE), read, never written,
// from the registry hive of the Wine prefix the game client runs in: Wine's
// text file "system.reg", whose keys and names are matched without regard to
// ASCII letter case, as the registry does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct UninstallEntry {
  std::string subkey;       // the entry's key name below the uninstall key
  std::string displayName;  // its "DisplayName" text, UTF-8
};

// The Wine prefix's machine hive: "$WINEPREFIX/system.reg" when WINEPREFIX is
// set, else "<home>/.wine/system.reg". Empty when no home folder is known.
std::string MachineHivePath();

// The direct subkeys of `uninstallKey` (a key below HKEY_LOCAL_MACHINE such as
// "SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\"; letter
// case and a final "\" do not matter) that hold a text value "DisplayName", in
// the hive's order. Empty when there is no hive, no such key or no entry.
// `hivePath` defaults to MachineHivePath(). Any thread may call it.
std::vector<UninstallEntry> ListUninstallEntries(std::string_view uninstallKey,
                                                 const std::string& hivePath = MachineHivePath());
