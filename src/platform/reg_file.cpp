#include "brontel/platform/reg_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Key paths compare without letter case and without trailing backslashes.
std::string_view TrimKeyPath(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

bool SameKeyPath(const std::string& a, const std::string& b) {
  return SameName(std::string(TrimKeyPath(a)), std::string(TrimKeyPath(b)));
}

// Carriage returns count as blanks, so lines ending in "\r\n" read like lines
// ending in "\n".
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads a quoted text at the start of s, with \\ and \" as the only escapes.
// On success stores the text, removes it (quotes included) from s and returns
// true.
bool TakeQuoted(std::string_view* s, std::string* out) {
  if (s->empty() || s->front() != '"') return false;
  out->clear();
  for (size_t i = 1; i < s->size(); ++i) {
    char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s->size()) return false;
      char next = (*s)[i + 1];
      if (next != '\\' && next != '"') return false;
      out->push_back(next);
      ++i;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "dword:" and one to eight hexadecimal digits, nothing else.
std::optional<uint32_t> ParseDword(std::string_view data) {
  constexpr std::string_view kPrefix = "dword:";
  if (data.size() <= kPrefix.size() || data.size() > kPrefix.size() + 8) return std::nullopt;
  if (!SameName(std::string(data.substr(0, kPrefix.size())), std::string(kPrefix))) {
    return std::nullopt;
  }
  uint32_t number = 0;
  for (char c : data.substr(kPrefix.size())) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    number = (number << 4) | static_cast<uint32_t>(digit);
  }
  return number;
}

// Classifies the data of a value: a whole quoted text, a dword, or other data
// kept as written.
RegFile::Value MakeValue(std::string name, std::string_view data) {
  RegFile::Value value;
  value.name = std::move(name);
  std::string_view rest = data;
  std::string text;
  if (TakeQuoted(&rest, &text) && TrimBlanks(rest).empty()) {
    value.type = RegFile::ValueType::kString;
    value.text = std::move(text);
  } else if (std::optional<uint32_t> number = ParseDword(data)) {
    value.type = RegFile::ValueType::kDword;
    value.number = *number;
  } else {
    value.type = RegFile::ValueType::kOther;
    value.data = std::string(data);
  }
  return value;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

RegFile RegFile::Parse(const std::string& text) {
  RegFile store;
  std::vector<std::string_view> lines = SplitLines(text);
  // The key that value lines belong to; none before the first key line and
  // after a damaged one, so values never land in the wrong key.
  Key* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = TrimBlanks(lines[i]);
    if (i == 0) {
      if (line.substr(0, 3) == "\xEF\xBB\xBF") line = TrimBlanks(line.substr(3));
      if (line == kHeader || line == "REGEDIT4") continue;
    }
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      current = nullptr;
      if (line.size() < 3 || line.back() != ']') {
        ++store.m_skippedLines;
        continue;
      }
      std::string path(line.substr(1, line.size() - 2));
      current = store.FindKeyToChange(path);
      if (current == nullptr) {
        store.m_keys.push_back(Key{path, {}});
        current = &store.m_keys.back();
      }
      continue;
    }

    std::string name;
    std::string_view rest = line;
    bool named = false;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
      named = true;
    } else {
      named = TakeQuoted(&rest, &name);
    }
    rest = TrimBlanks(rest);
    if (current == nullptr || !named || rest.empty() || rest.front() != '=') {
      ++store.m_skippedLines;
      continue;
    }
    std::string data(TrimBlanks(rest.substr(1)));
    // Binary data may go on over several lines, each but the last ending in a
    // backslash; the lines are kept together as written.
    if (data.empty() || data.front() != '"') {
      while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
        data += '\n';
        data += lines[++i];
      }
      // A continuation cut off by the end of the file would swallow the line
      // that follows once the file is written again.
      if (i + 1 >= lines.size() && !data.empty() && data.back() == '\\') {
        while (!data.empty() && (data.back() == '\\' || IsBlank(data.back()))) data.pop_back();
      }
    }

    Value value = MakeValue(std::move(name), data);
    bool replaced = false;
    for (Value& existing : current->values) {
      if (SameName(existing.name, value.name)) {
        value.name = existing.name;
        existing = std::move(value);
        replaced = true;
        break;
      }
    }
    if (!replaced) current->values.push_back(std::move(value));
  }
  return store;
}

std::string RegFile::ToText() const {
  std::string out = std::string(kHeader) + "\n\n";
  for (const Key& key : m_keys) {
    out += "[" + key.path + "]\n";
    for (const Value& value : key.values) {
      out += value.name.empty() ? "@" : Quote(value.name);
      out += '=';
      switch (value.type) {
        case ValueType::kString:
          out += Quote(value.text);
          break;
        case ValueType::kDword:
          out += Format("dword:%08x", value.number);
          break;
        case ValueType::kOther:
          out += value.data;
          break;
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

bool RegFile::Load(const std::string& path) {
  *this = RegFile();
  FileSystem& fs = FileSystem::Current();
  int fd = fs.Open(path, O_RDONLY, 0);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    DebugLine(Format("Unable to open file %s: %s\n", path.c_str(), std::strerror(errno)));
    return false;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    int64_t n = fs.Read(fd, buffer, sizeof buffer);
    if (n < 0) {
      DebugLine(Format("Unable to read file %s: %s\n", path.c_str(), std::strerror(errno)));
      fs.Close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  fs.Close(fd);
  *this = Parse(text);
  if (m_skippedLines > 0) {
    DebugLine(
        Format("Skipped %d damaged lines of %s\n", static_cast<int>(m_skippedLines), path.c_str()));
  }
  return true;
}

bool RegFile::Save(const std::string& path, std::string* error) const {
  const std::string text = ToText();
  return ReplaceFileAtomically(
      path,
      [&](ByteSink& sink) {
        sink.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      },
      error);
}

const RegFile::Key* RegFile::FindKey(const std::string& keyPath) const {
  for (const Key& key : m_keys) {
    if (SameKeyPath(key.path, keyPath)) return &key;
  }
  return nullptr;
}

RegFile::Key* RegFile::FindKeyToChange(const std::string& keyPath) {
  return const_cast<Key*>(FindKey(keyPath));
}

const RegFile::Value* RegFile::FindValue(const std::string& keyPath,
                                         const std::string& name) const {
  const Key* key = FindKey(keyPath);
  if (key == nullptr) return nullptr;
  for (const Value& value : key->values) {
    if (SameName(value.name, name)) return &value;
  }
  return nullptr;
}

std::optional<std::string> RegFile::GetString(const std::string& keyPath,
                                              const std::string& name) const {
  const Value* value = FindValue(keyPath, name);
  if (value == nullptr || value->type != ValueType::kString) return std::nullopt;
  return value->text;
}

std::optional<uint32_t> RegFile::GetDword(const std::string& keyPath,
                                          const std::string& name) const {
  const Value* value = FindValue(keyPath, name);
  if (value == nullptr || value->type != ValueType::kDword) return std::nullopt;
  return value->number;
}

RegFile::Value& RegFile::ValueToChange(const std::string& keyPath, const std::string& name) {
  Key* key = FindKeyToChange(keyPath);
  if (key == nullptr) {
    m_keys.push_back(Key{keyPath, {}});
    key = &m_keys.back();
  }
  for (Value& value : key->values) {
    if (SameName(value.name, name)) return value;
  }
  key->values.push_back(Value{name, ValueType::kOther, "", 0, ""});
  return key->values.back();
}

namespace {

bool WritableNames(const std::string& keyPath, const std::string& name) {
  auto control = [](const std::string& text) {
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
  };
  return !control(keyPath) && !control(name) && keyPath.find(']') == std::string::npos;
}

}  // namespace

bool RegFile::SetString(const std::string& keyPath, const std::string& name,
                        const std::string& text) {
  if (!WritableNames(keyPath, name)) return false;
  std::string stored = text.substr(0, text.find('\0'));
  if (stored.find_first_of("\r\n") != std::string::npos) return false;
  Value& value = ValueToChange(keyPath, name);
  value.type = ValueType::kString;
  value.text = std::move(stored);
  value.number = 0;
  value.data.clear();
  return true;
}

bool RegFile::SetDword(const std::string& keyPath, const std::string& name, uint32_t number) {
  if (!WritableNames(keyPath, name)) return false;
  Value& value = ValueToChange(keyPath, name);
  value.type = ValueType::kDword;
  value.number = number;
  value.text.clear();
  value.data.clear();
  return true;
}

bool UpdateRegFile(const std::string& path, const std::function<void(RegFile& store)>& change,
                   FileLockTiming timing) {
  // The settings directory is the one place the library creates on its own;
  // the file system interface has no operation for it.
  std::error_code failure;
  std::filesystem::create_directories(DirectoryOf(path), failure);
  if (failure) {
    DebugLine(Format("Unable to create directory %s: %s\n", DirectoryOf(path).c_str(),
                     failure.message().c_str()));
    return false;
  }
  // Without the lock (a lock file that cannot be opened) the update still runs.
  FileLock lock(path + ".lck", timing);
  lock.Acquire();
  RegFile store;
  // A file that exists but cannot be read is left alone rather than replaced by
  // a store that lost its other settings.
  if (!store.Load(path)) return false;
  change(store);
  std::string error;
  return store.Save(path, &error);
}

std::string RegistryDirectory() {
  const char* own = std::getenv("BRONTEL_REGISTRY_DIR");
  if (own != nullptr && *own != '\0') return own;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') return std::string(config) + "/brontel";
  return HomeDirectory() + "/.config/brontel";
}

}  // namespace brontel
