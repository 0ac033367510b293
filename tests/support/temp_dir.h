// A fresh directory under $TMPDIR for one test, removed with its files after.
#pragma once

#include <filesystem>
#include <string>

namespace brontel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }
  // Names of the files in the directory, sorted.
  std::string Listing() const;

 private:
  std::string m_path;
};

// Whole contents of a file, or "<missing>".
std::string ReadFileOrMissing(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace brontel::testing
