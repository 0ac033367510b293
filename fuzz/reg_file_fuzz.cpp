// Feeds arbitrary text to the settings-file parser: it must never crash, and
// what it writes back must parse to the same text again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "brontel/platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  brontel::RegFile file = brontel::RegFile::Parse(text);
  for (const auto& key : file.keys()) {
    (void)key;
  }
  file.GetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro", "ServerSyncUrl");
  file.GetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro", "SyncLogging");
  file.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro", "SyncLogging", 3);
  std::string once = file.ToText();
  std::string twice = brontel::RegFile::Parse(once).ToText();
  if (once != twice) __builtin_trap();
  return 0;
}
