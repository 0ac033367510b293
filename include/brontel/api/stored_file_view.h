// Shows any file that the library writes (log files, and the cache and shadow
// files of the calendar and the contact side) as a tree of text: the stored
// object is read back by class name and displays itself, with the objects
// carried by log entries expanded in place. A cache shows its sequence above
// its records.
#pragma once

#include <string>

#include "brontel/platform/archive_file.h"
#include "brontel/platform/tree_view.h"

namespace brontel {

// Reads path and fills tree. On failure the tree holds what was shown before the
// error (nothing, for a file that could not be read at all). The tree's items
// carry no data afterwards.
ReadResult DisplayStoredFile(const std::string& path, TextTree& tree);

}  // namespace brontel
