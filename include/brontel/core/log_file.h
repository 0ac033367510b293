// Log files: one "LogListLog" node, named after the API object that wrote it,
// holding the whole log list. Any stored object of the library's classes can be
// read back from such a file and displayed again.
#pragma once

#include <memory>
#include <string>

#include "brontel/core/log_list.h"
#include "brontel/platform/archive_file.h"

namespace brontel {

// Replaces path with a log file whose node is named name and refers to list.
bool WriteLogFile(const std::string& path, const std::string& name, const LogList& list,
                  std::string* error);

// Reads the log node of a log file. On failure *node is left empty.
ReadResult ReadLogFile(const std::string& path, std::unique_ptr<LogNode>* node);

}  // namespace brontel
