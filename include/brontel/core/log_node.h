// LogNode: a named entry of a log list, stored in log files by class name.
//
// The base node carries only its name. LogNodeOf<T> carries one object of a
// LogAble class T; its stored class name is T::kLogNodeName ("CalendarLog" for
// a Calendar). A node displays as its name, with the carried object attached as
// the item's data, so that a viewer can expand it on demand.
#pragma once

#include <string>
#include <utility>

#include "brontel/core/log_able.h"
#include "brontel/platform/serializable.h"

namespace brontel {

class LogNode : public Serializable {
  BRONTEL_DECLARE_SERIAL()

 public:
  LogNode() = default;
  explicit LogNode(std::string name) : m_name(std::move(name)) {}

  const std::string& GetName() const { return m_name; }

  // Stores or loads the name.
  void Serialize(Archive& ar) override;
  // Inserts one item with the name under parent, with GetItem() as its data.
  virtual TreeItem DisplayTree(TreeView& tree, TreeItem parent) const;
  // "name :: carried object's display string", or the name alone.
  virtual std::string GetDisplayString() const;
  // The carried object, or null.
  virtual const LogAble* GetItem() const { return nullptr; }

 protected:
  std::string m_name;
};

// A log node carrying a copy of a T. T must be default-constructible for
// reading, copyable, and declare `static constexpr char kLogNodeName[]`.
template <class T>
class LogNodeOf : public LogNode {
 public:
  static const ClassInfo kClassInfo;
  const ClassInfo& GetClassInfo() const override { return kClassInfo; }

  LogNodeOf() = default;
  LogNodeOf(std::string name, const T& item) : LogNode(std::move(name)), m_item(item) {}

  void Serialize(Archive& ar) override {
    LogNode::Serialize(ar);
    m_item.SerializeQuick(ar, ar.IsStoring() ? Archive::kNoSchema : ar.GetObjectSchema());
  }
  const LogAble* GetItem() const override { return &m_item; }
  const T& item() const { return m_item; }

 private:
  T m_item;
};

template <class T>
const ClassInfo LogNodeOf<T>::kClassInfo = {T::kLogNodeName, 15,
                                            []() -> Serializable* { return new LogNodeOf<T>(); }};

// Expands a tree that log nodes filled: under every item that has a carried
// object attached, the object's own tree is inserted, and so on for the items
// that adds, so that a text rendering shows the whole log. An object already
// being expanded on the path from the root is not expanded again. Every item data
// in the tree must be a LogAble.
void ExpandLogItems(TextTree& tree);

}  // namespace brontel
