// The frame that `brontel calendar` and `brontel contacts` share: the
// arguments "OP --dir DIR --copy FILE.json", reading the copy file, writing it
// back atomically, and printing the outcome of the entry point.
#pragma once

#include <string>
#include <vector>

#include "brontel/api/api_object.h"
#include "brontel/core/enumerations.h"

namespace brontel::tool {

struct CopyCommandArgs {
  std::string op;
  std::string dir;
  std::string copyPath;
};

// False when args are not OP --dir DIR --copy FILE (in either order).
bool ParseCopyCommandArgs(const std::vector<std::string>& args, CopyCommandArgs* out);

// The copy file's text; "{}" for a copy that does not exist yet (when its
// directory does). False, with a line on stderr, otherwise.
bool ReadCopyFile(const std::string& path, std::string* text);

// Replaces the copy file atomically; false, with a line on stderr, when it
// could not.
bool WriteCopyFile(const std::string& path, const std::string& text);

// Prints the result code, the error text, the conflict count and the notices
// of the entry point just run.
void PrintOutcome(br_error result, const ApiObject& api);

}  // namespace brontel::tool
