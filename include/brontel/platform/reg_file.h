// RegFile: one root of the settings store, kept as a text file in the format
// that registry editors export and import.
//
// The store is an ordered list of keys, each an ordered list of named values:
// text ("Name"="text") and number ("Name"=dword:0000001e) values can be read and
// set, every other value a file holds is kept exactly as written. Key paths and
// value names match without regard to letter case and keep their first
// spelling; a damaged line is skipped (and dropped on the next write), never fatal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "brontel/platform/file_lock.h"

namespace brontel {

class RegFile {
 public:
  // The first line of every file.
  static constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

  enum class ValueType { kString, kDword, kOther };

  struct Value {
    // Unescaped; empty for the key's default value, written "@".
    std::string name;
    ValueType type = ValueType::kOther;
    std::string text;     // kString
    uint32_t number = 0;  // kDword
    // kOther: the text after "=" as written, continuation lines included.
    std::string data;
  };

  struct Key {
    // The whole key as written between the brackets, root first, for example
    // "HKEY_CURRENT_USER\Software\Orvelle\Tandro".
    std::string path;
    std::vector<Value> values;
  };

  // Reads a store from the file's text. Keys named twice are merged and a value
  // named twice in a key keeps its last data, as an import would.
  static RegFile Parse(const std::string& text);
  // The file's text: the header, a blank line, then each key with its values
  // followed by a blank line.
  std::string ToText() const;

  // Replaces this store with the contents of path. A missing file gives an
  // empty store and true; a file that cannot be read gives an empty store,
  // false and a diagnostic line.
  bool Load(const std::string& path);
  // Replaces path atomically with ToText(). Returns false with error set, the
  // old file left whole, when any step fails.
  bool Save(const std::string& path, std::string* error) const;

  const std::vector<Key>& keys() const { return m_keys; }
  // Lines of the parsed text that were skipped as damaged.
  int32_t skippedLines() const { return m_skippedLines; }

  const Key* FindKey(const std::string& keyPath) const;
  const Value* FindValue(const std::string& keyPath, const std::string& name) const;
  // The value's text or number; nothing when it is missing or of another type.
  std::optional<std::string> GetString(const std::string& keyPath, const std::string& name) const;
  std::optional<uint32_t> GetDword(const std::string& keyPath, const std::string& name) const;

  // Set a value, creating the key (at the end) and the value (at the end of
  // its key) when missing; an existing value keeps its place and name. Text is
  // taken up to its first zero byte. SetString returns false and changes
  // nothing for text with a line break, which one line cannot hold.
  bool SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  // Both setters refuse (false, nothing changed) a key path or a value name
  // holding a control character, or a key path holding "]": the file would
  // read back with keys or values the caller never wrote.
  bool SetDword(const std::string& keyPath, const std::string& name, uint32_t number);

 private:
  Key* FindKeyToChange(const std::string& keyPath);
  Value& ValueToChange(const std::string& keyPath, const std::string& name);

  std::vector<Key> m_keys;
  int32_t m_skippedLines = 0;
};

// Changes the store in path under the lock file path + ".lck": creates the
// directory when missing, loads the file (missing: an empty store), applies
// change and replaces the file atomically. Returns false, leaving the file as
// it was, when the directory cannot be created or the file read or written.
bool UpdateRegFile(const std::string& path, const std::function<void(RegFile& store)>& change,
                   FileLockTiming timing = {});

// The directory of the settings files: $BRONTEL_REGISTRY_DIR, else
// $XDG_CONFIG_HOME/brontel, else $HOME/.config/brontel (an empty variable
// counts as unset). Read from the environment at every call.
std::string RegistryDirectory();

}  // namespace brontel
