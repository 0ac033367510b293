// LogAble: how every record, list, manager, cache and engine describes itself.
//
// Four descriptions: a one-line display string, a tree of display items, a named
// entry for a log list (a newly allocated LogNode carrying a copy of the object),
// and the quick stored form used inside log files and cache files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/platform/archive.h"
#include "brontel/platform/tree_view.h"

namespace brontel {

class LogNode;

class LogAble {
 public:
  virtual ~LogAble() = default;
  // Inserts the object's items under parent and returns the item it added.
  virtual TreeItem DisplayTree(TreeView& tree, TreeItem parent) const = 0;
  virtual std::string GetDisplayString() const = 0;
  // Stores or loads the object's quick form; version is the format version of
  // the data being read (Archive::kNoSchema while storing).
  virtual void SerializeQuick(Archive& ar, uint32_t version) = 0;
  // A new log entry named name that carries a copy of this object.
  virtual std::unique_ptr<LogNode> GetLogItem(const std::string& name) const = 0;
  // A viewer's action on the object; does nothing unless a class defines it.
  virtual void Activate(int32_t mode, const std::string& argument);
};

}  // namespace brontel
