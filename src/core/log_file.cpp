#include "brontel/core/log_file.h"

#include "brontel/core/core_classes.h"

namespace brontel {

bool WriteLogFile(const std::string& path, const std::string& name, const LogList& list,
                  std::string* error) {
  LogListNode node(name, list);
  return WriteArchiveFile(
      path, [&](Archive& ar) { ar.WriteObject(&node); }, error);
}

ReadResult ReadLogFile(const std::string& path, std::unique_ptr<LogNode>* node) {
  RegisterCoreClasses();
  node->reset();
  std::unique_ptr<LogNode> read;
  ReadResult result = ReadArchiveFile(path, [&](Archive& ar) {
    read.reset(ReadObjectAs<LogNode>(ar));
    if (read == nullptr) ar.Fail(ArchiveStatus::kBadValue, "log file holds no log entry");
  });
  if (result.ok()) *node = std::move(read);
  return result;
}

}  // namespace brontel
