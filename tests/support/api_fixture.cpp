#include "support/api_fixture.h"

#include <cstdlib>
#include <filesystem>

#include "brontel/api/brontel_api.h"

namespace brontel::testing {

UID128 Gid(uint8_t seed) {
  UID128 gid;
  for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(seed + i));
  return gid;
}

void ApiTest::SetUp() {
  InitBrontelDLL();
  const char* previous = std::getenv(kSettingsVariable);
  if (previous != nullptr) m_previousSettings = previous;
  ::setenv(kSettingsVariable, m_settingsDir.path().c_str(), 1);
}

void ApiTest::TearDown() {
  if (m_previousSettings) {
    ::setenv(kSettingsVariable, m_previousSettings->c_str(), 1);
  } else {
    ::unsetenv(kSettingsVariable);
  }
}

void ApiTest::CorruptFile(const std::string& name, size_t n) const {
  std::string bytes = FileBytes(name);
  ASSERT_NE(bytes, kMissing) << name;
  ASSERT_LT(n, bytes.size()) << name;
  WriteFileBytes(Path(name), bytes.substr(0, n));
}

std::map<std::string, std::string> ApiTest::Snapshot() const {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
    std::string name = entry.path().filename().string();
    files[name] = FileBytes(name);
  }
  return files;
}

}  // namespace brontel::testing
