// LogList: an ordered list of owned log nodes, what an API object or engine
// collects during one synchronization and writes to its log file.
//
// The array grows to 16 entries, then doubles; it never shrinks. A LogList is
// not copyable; GetLogItem gives a node that refers to the list without owning it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brontel/core/log_able.h"
#include "brontel/core/log_node.h"

namespace brontel {

class LogList : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "LogListLog";

  LogList() = default;
  LogList(const LogList&) = delete;
  LogList& operator=(const LogList&) = delete;

  // Appends item.GetLogItem(name).
  void Log(const std::string& name, const LogAble& item);
  // Appends a LogString node with text.
  void Log(const std::string& name, const std::string& text);
  // Takes ownership of node and appends it. REQUIRES: node != nullptr.
  void Append(std::unique_ptr<LogNode> node);

  // REQUIRES: 0 <= index < GetListCount().
  LogNode& operator[](int32_t index) const;
  int32_t GetListCount() const { return static_cast<int32_t>(m_nodes.size()); }
  int32_t GetCapacity() const { return m_capacity; }

  // "LogList[n]".
  std::string GetDisplayString() const override;
  // An item with the display string, and every node's item under it.
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Count (signed 32-bit), then each node as an object record. Loading replaces
  // the entries with the nodes read; a null or non-node record fails the read.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  void reserve(int32_t needed);

  std::vector<std::unique_ptr<LogNode>> m_nodes;
  int32_t m_capacity = 0;
};

// The "LogListLog" node. Made by LogList::GetLogItem it refers to that list; made
// empty (for reading) it owns a fresh list.
class LogListNode : public LogNode {
  BRONTEL_DECLARE_SERIAL()

 public:
  LogListNode();
  LogListNode(std::string name, const LogList& list);

  void Serialize(Archive& ar) override;
  const LogAble* GetItem() const override { return m_list; }
  const LogList& list() const { return *m_list; }

 private:
  std::unique_ptr<LogList> m_owned;
  const LogList* m_list;
};

}  // namespace brontel
