#include "brontel/api/stored_file_view.h"

#include <memory>

#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

struct ReleaseObject {
  void operator()(Serializable* obj) const { obj->ReleaseReference(); }
};

}  // namespace

ReadResult DisplayStoredFile(const std::string& path, TextTree& tree) {
  InitBrontelDLL();
  std::unique_ptr<Serializable, ReleaseObject> object;
  ReadResult result = ReadArchiveFile(path, [&](Archive& ar) {
    object.reset(ar.ReadObject());
    if (object == nullptr) ar.Fail(ArchiveStatus::kBadValue, "file holds a null object");
  });
  if (!result.ok()) return result;
  if (auto* node = dynamic_cast<LogNode*>(object.get())) {
    node->DisplayTree(tree, kTreeRoot);
    ExpandLogItems(tree);
    // The carried objects die with the node; leave no pointers to them behind.
    for (TreeItem item = 1; item <= tree.ItemCount(); ++item) tree.SetItemData(item, nullptr);
  } else if (auto* cache = dynamic_cast<CalendarCacheHolder*>(object.get())) {
    TreeItem item = tree.InsertItem(Format("Calendar Cache %x", cache->m_sequence), kTreeRoot);
    cache->m_manager.DisplayTree(tree, item);
  } else if (auto* manager = dynamic_cast<CalendarManagerHolder*>(object.get())) {
    CalendarManager(manager).DisplayTree(tree, kTreeRoot);
  } else if (auto* contactCache = dynamic_cast<CategoryCacheHolder*>(object.get())) {
    TreeItem item =
        tree.InsertItem(Format("Category Cache %x", contactCache->m_sequence), kTreeRoot);
    contactCache->m_manager.DisplayTree(tree, item);
  } else if (auto* contactManager = dynamic_cast<CategoryManagerHolder*>(object.get())) {
    CategoryManager(contactManager).DisplayTree(tree, kTreeRoot);
  } else {
    tree.InsertItem(object->GetClassInfo().name, kTreeRoot);
  }
  return result;
}

}  // namespace brontel
