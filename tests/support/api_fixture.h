// The frame of API object tests: a cache directory and a settings store of
// the test's own, and helpers to look at and spoil the directory's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "brontel/core/uid128.h"
#include "support/temp_dir.h"

namespace brontel::testing {

inline constexpr char kMissing[] = "<missing>";

// An account id whose bytes count up from seed.
UID128 Gid(uint8_t seed);

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return m_dir.File(name); }
  std::string FileBytes(const std::string& name) const { return ReadFileOrMissing(Path(name)); }
  bool Exists(const std::string& name) const { return FileBytes(name) != kMissing; }
  // Keeps only the first n bytes of a file.
  void CorruptFile(const std::string& name, size_t n) const;
  // Every file of the directory with its bytes.
  std::map<std::string, std::string> Snapshot() const;

  static constexpr char kSettingsVariable[] = "BRONTEL_REGISTRY_DIR";
  TempDir m_dir;
  TempDir m_settingsDir;
  std::optional<std::string> m_previousSettings;
};

}  // namespace brontel::testing
