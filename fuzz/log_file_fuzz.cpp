// Fuzz target for log files as a program or a support person opens them: the
// input is put into a file, read with ReadLogFile and, when that succeeds,
// shown as the log viewer shows it (its line and the whole expanded tree).
// The entry is then written to a log file again and read back: that read must
// succeed and store the same bytes. Damaged files must give a failed
// ReadResult, never a crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "brontel/api/brontel_api.h"
#include "brontel/core/log_file.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/tree_view.h"

namespace {

using namespace brontel;

// A directory of this process's own, in memory where the system offers it.
const std::string& WorkDirectory() {
  static const std::string directory = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/brontel-log-fuzz-XXXXXX"
                                                        : "/tmp/brontel-log-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    return pattern;
  }();
  return directory;
}

void Show(const LogNode& node) {
  (void)node.GetDisplayString();
  TextTree tree;
  node.DisplayTree(tree, kTreeRoot);
  ExpandLogItems(tree);
  (void)tree.Render();
}

std::string Store(const LogNode& node) {
  StringSink sink;
  Archive ar(sink);
  ar.WriteObject(&node);
  ar.Flush();
  return sink.contents();
}

}  // namespace

// A hostile file may hold records that name each other in cycles no manager
// owns; such a cycle is never freed. That bounded leak is not what this target
// looks for (see the archive target); crashes and failed round trips are.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (InitBrontelDLL(), true);
  (void)initialized;
  const std::string input = WorkDirectory() + "/input.pff";
  const std::string again = WorkDirectory() + "/again.pff";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  std::unique_ptr<LogNode> node;
  const ReadResult result = ReadLogFile(input, &node);
  if (!result.ok()) {
    if (node != nullptr) __builtin_trap();  // a failed read hands nothing back
    if (result.offset > size) __builtin_trap();
    return 0;
  }
  if (node == nullptr) __builtin_trap();
  Show(*node);

  const std::string stored = Store(*node);
  std::string error;
  if (!WriteArchiveFile(
          again, [&](Archive& ar) { ar.WriteObject(node.get()); }, &error)) {
    __builtin_trap();
  }
  std::unique_ptr<LogNode> reread;
  if (!ReadLogFile(again, &reread).ok() || reread == nullptr) __builtin_trap();
  if (Store(*reread) != stored) __builtin_trap();
  return 0;
}
