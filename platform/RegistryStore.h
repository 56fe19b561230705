// The current user's registry values (HKEY_CURRENT_USER), kept in a text file
// below the user's configuration folder (the machine's uninstall entries are
// read from the Wine prefix instead: platform/MachineHive.h). Keys and value
// names are matched without regard to ASCII letter case, as the registry does.
// A value is either text (REG_SZ, kept as UTF-8) or binary (REG_BINARY, any
// bytes); a typed read of the other kind finds nothing, as a typed registry
// read would.
//
// File form, one value per line below its key:
//   [SOFTWARE\fernway\meadow_jp]
//   "gclidshort"="xyz"
//   "deviceid_h1602965840"=hex:5a,41,52
// Text values escape "\" and '"' with "\", line breaks as "\n" and "\r", and
// other control bytes as "\xHH". Lines in any other form (comments, values of
// other types) are kept as they are when the file is rewritten.
//
// Any thread and any process may use a store at any time. Writes replace the
// file atomically (temporary file, then rename) under an exclusive lock on
// "<file>.lock", so readers always see a whole file and concurrent writers of
// different values lose nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RegistryType { Text, Binary };

struct RegistryValue {
  RegistryType type = RegistryType::Text;
  std::string data;  // Text: UTF-8 without terminator; Binary: the bytes
};

class RegistryStore {
 public:
  // The current user's store: "<config>/TovaLauncher/registry.txt", where
  // <config> is $XDG_CONFIG_HOME when it is an absolute path, else
  // "<home>/.config". Empty when no home folder is known.
  static std::string DefaultPath();

  // A store kept in `path` (a system path). The file and its folders are made
  // on the first write; a missing file holds no values.
  explicit RegistryStore(std::string path = DefaultPath());

  const std::string& path() const { return path_; }

  // The value of either type; nothing when the file, key or value is missing
  // or the value's line cannot be read.
  std::optional<RegistryValue> Query(std::string_view key, std::string_view name) const;

  // Typed reads: false (and `out` untouched) when the value is missing or of
  // the other type.
  bool ReadText(std::string_view key, std::string_view name, std::string& out) const;
  bool ReadBinary(std::string_view key, std::string_view name, std::string& out) const;

  // Creates or replaces the value (whatever its previous type), creating the
  // key when needed. False for an empty key or one with a line break, and when
  // the folder, the lock, reading the file (a file that is there but cannot
  // be read is never replaced), the temporary file or the rename fails; the
  // stored file is then unchanged.
  [[nodiscard]] bool WriteText(std::string_view key, std::string_view name, std::string_view text);
  [[nodiscard]] bool WriteBinary(std::string_view key, std::string_view name, std::string_view bytes);
  // Like WriteBinary, but only when the file holds no value by that name
  // (looked for under the lock): false, and nothing written, when it does.
  [[nodiscard]] bool AddBinary(std::string_view key, std::string_view name, std::string_view bytes);

 private:
  [[nodiscard]] bool Write(std::string_view key, std::string_view name, const RegistryValue& value, bool replace);

  std::string path_;
};
