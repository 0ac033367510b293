#include "brontel/api/brontel_api.h"

#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"

#include "brontel/platform/precondition.h"
#include "brontel/sync/sync_classes.h"

namespace brontel {

std::string BrontelAPI::GetVersion() {
  return kBuildTag;
}

CalendarApi BrontelAPI::CreateCalendarApi(const std::string& directory, std::string revision) {
  CalendarApi api(directory, revision);
  api.Log(kBuildTag, revision);
  return api;
}

CategoryApi BrontelAPI::CreateCategoryApi(const std::string& directory, std::string revision) {
  CategoryApi api(directory, revision);
  api.Log(kBuildTag, revision);
  return api;
}

TreeItem BrontelAPI::DisplayTree(TreeView& tree, TreeItem parent, int32_t length,
                                 const uint8_t* bytes) {
  BRONTEL_REQUIRE(length >= 0, "length >= 0");
  static const char kDigits[] = "0123456789ABCDEF";
  int32_t rows = (length + 31) / 32;
  for (int32_t row = 0; row < rows; ++row) {
    int32_t begin = row * 32;
    int32_t end = begin + 32 < length ? begin + 32 : length;
    std::string text;
    text.reserve(static_cast<size_t>(end - begin) * 3);
    for (int32_t i = begin; i < end; ++i) {
      text += kDigits[bytes[i] >> 4];
      text += kDigits[bytes[i] & 15];
      text += ' ';
    }
    tree.InsertItem(text, parent);
  }
  return parent;
}

void InitBrontelDLL() {
  RegisterSyncClasses();
}

}  // namespace brontel
