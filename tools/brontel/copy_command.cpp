#include "copy_command.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "brontel/platform/file_system.h"
#include "commands.h"

namespace brontel::tool {

bool ParseCopyCommandArgs(const std::vector<std::string>& args, CopyCommandArgs* out) {
  if (args.empty() || args.size() % 2 == 0) return false;
  out->op = args[0];
  for (size_t i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--dir") {
      out->dir = args[i + 1];
    } else if (args[i] == "--copy") {
      out->copyPath = args[i + 1];
    } else {
      return false;
    }
  }
  return !out->dir.empty() && !out->copyPath.empty();
}

bool ReadCopyFile(const std::string& path, std::string* text) {
  std::string error;
  int err = 0;
  if (ReadWholeFile(path, text, &error, &err)) return true;
  if (err != ENOENT) {
    std::fprintf(stderr, "brontel: %s\n", error.c_str());
    return false;
  }
  // A copy that does not exist yet is empty; but the merged copy must have
  // somewhere to go before the sync changes the cache.
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent)) {
    std::fprintf(stderr, "brontel: %s: no directory %s\n", path.c_str(), parent.string().c_str());
    return false;
  }
  *text = "{}";
  return true;
}

bool WriteCopyFile(const std::string& path, const std::string& text) {
  std::string error;
  if (ReplaceFileAtomically(
          path,
          [&](ByteSink& sink) {
            sink.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
          },
          &error)) {
    return true;
  }
  std::fprintf(stderr, "brontel: %s\n", error.c_str());
  return false;
}

void PrintOutcome(br_error result, const ApiObject& api) {
  std::printf("result: %u %s\n", result, ResultName(result));
  if (!api.GetErrorMessage().empty()) std::printf("error: %s\n", api.GetErrorMessage().c_str());
  std::printf("conflicts: %d\n", api.SyncConflicts());
  std::printf("%s", DescribeNotices(api.GetUserNoticeManager(), "").c_str());
}

}  // namespace brontel::tool
