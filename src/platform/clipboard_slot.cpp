#include "brontel/platform/clipboard_slot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

// True when folder is a directory (not a link to one) of this user that no one
// else may enter. With create, a missing folder is made first.
bool IsPrivateFolder(const std::string& folder, bool create) {
  if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    DebugLine(Format("Unable to create folder %s", folder.c_str()));
    return false;
  }
  struct stat status;
  if (::lstat(folder.c_str(), &status) != 0) return false;
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
    DebugLine(Format("Folder %s is not private to this user; clipboard not used", folder.c_str()));
    return false;
  }
  return true;
}

}  // namespace

std::string ClipboardSlot::Folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime) + "/brontel";
  return Format("/tmp/brontel-%u", static_cast<unsigned>(::getuid()));
}

std::string ClipboardSlot::SlotPath(uint32_t format) {
  return Folder() + Format("/clipboard-%04X", format);
}

bool ClipboardSlot::Put(uint32_t format, const std::string& text) {
  if (!IsPrivateFolder(Folder(), true)) return false;
  std::string error;
  return ReplaceFileAtomically(
      SlotPath(format),
      [&text](ByteSink& sink) {
        sink.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      },
      &error);
}

std::optional<std::string> ClipboardSlot::Take(uint32_t format) {
  if (!IsPrivateFolder(Folder(), false)) return std::nullopt;
  // Moving the file aside first makes the take atomic: of two readers, only
  // the one whose rename succeeds gets the text.
  const std::string path = SlotPath(format);
  const std::string taken = path + Format(".taken%d", static_cast<int>(::getpid()));
  FileSystem& fs = FileSystem::Current();
  if (fs.Rename(path, taken) != 0) return std::nullopt;  // nothing held
  std::string text;
  std::string error;
  const bool read = ReadWholeFile(taken, &text, &error);
  fs.Unlink(taken);
  if (!read) return std::nullopt;
  return text;
}

}  // namespace brontel
