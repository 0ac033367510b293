#include "brontel/contacts/contact_classes.h"

#include <mutex>

#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/contact_holders.h"
#include "brontel/core/log_node.h"
#include "brontel/host/host_classes.h"

namespace brontel {

void RegisterContactClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClasses();
    for (const ClassInfo* info : {
             &RecordTableIdentificationHolder::kClassInfo,
             &CategoryDescriptorHolder::kClassInfo,
             &ContactDescriptorHolder::kClassInfo,
             &CategoryHolder::kClassInfo,
             &ContactHolder::kClassInfo,
             &CategoryManagerHolder::kClassInfo,
             &CategoryCacheHolder::kClassInfo,
             &LogNodeOf<Category>::kClassInfo,
             &LogNodeOf<Contact>::kClassInfo,
             &LogNodeOf<CategoryList>::kClassInfo,
             &LogNodeOf<ContactList>::kClassInfo,
             &LogNodeOf<CategoryManager>::kClassInfo,
             &LogNodeOf<CategoryCache>::kClassInfo,
         }) {
      ClassRegistry::Register(*info);
    }
  });
}

}  // namespace brontel
