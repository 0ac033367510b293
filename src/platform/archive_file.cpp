#include "brontel/platform/archive_file.h"

#include <cerrno>

#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {

ReadResult ReadArchiveFile(const std::string& path, const std::function<void(Archive&)>& read) {
  ReadResult result;
  std::string bytes;
  int err = 0;
  if (!ReadWholeFile(path, &bytes, &result.message, &err)) {
    result.status = err == ENOENT ? ArchiveStatus::kNotFound : ArchiveStatus::kIoError;
    return result;
  }
  try {
    Archive ar(bytes);
    read(ar);
    result.offset = ar.Position();
  } catch (const ArchiveError& e) {
    result.status = e.status();
    result.offset = e.offset();
    result.message = Format("%s: %s", path.c_str(), e.what());
  }
  return result;
}

bool WriteArchiveFile(const std::string& path, const std::function<void(Archive&)>& write,
                      std::string* error) {
  return ReplaceFileAtomically(
      path,
      [&](ByteSink& sink) {
        Archive ar(sink);
        write(ar);
        ar.Flush();
      },
      error);
}

}  // namespace brontel
