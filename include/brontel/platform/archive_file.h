// Whole files in the archive format: read into memory and parsed, or written
// through a 4096-byte buffer into a file that replaces the old one atomically.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "brontel/platform/archive.h"

namespace brontel {

// Outcome of reading a stored file: a status, the byte offset where reading
// stopped, and a message for people.
struct ReadResult {
  ArchiveStatus status = ArchiveStatus::kOk;
  uint64_t offset = 0;
  std::string message;
  bool ok() const { return status == ArchiveStatus::kOk; }
};

// Reads path and runs read() on a loading archive over its bytes. Never throws
// an ArchiveError: a missing file gives kNotFound, one that cannot be read
// kIoError, damaged bytes the archive's
// status and offset.
ReadResult ReadArchiveFile(const std::string& path, const std::function<void(Archive&)>& read);

// Replaces path with what write() stores. Returns false with error set, leaving
// the old file whole, when any step fails.
bool WriteArchiveFile(const std::string& path, const std::function<void(Archive&)>& write,
                      std::string* error);

}  // namespace brontel
