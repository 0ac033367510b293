#include "brontel/api/stored_file_view.h"

#include <memory>

#include "brontel/api/brontel_api.h"
#include "brontel/core/log_node.h"

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
  } else {
    tree.InsertItem(object->GetClassInfo().name, kTreeRoot);
  }
  return result;
}

}  // namespace brontel
