// BrontelAPI: the library's entry class.
//
// A stateless facade: it reports the build tag, shows raw bytes as a hex dump in
// a tree, and is the home of the shared enumerations (result codes, record
// sources, progress stages). InitBrontelDLL() prepares the library once after
// loading.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/build_tag.h"
#include "brontel/core/enumerations.h"
#include "brontel/platform/tree_view.h"

namespace brontel {

class CalendarApi;
class CategoryApi;

class BrontelAPI {
 public:
  using br_error = ::brontel::br_error;
  using BR_SOURCE = ::brontel::BR_SOURCE;
  using SyncCallBackProgress = ::brontel::SyncCallBackProgress;
  using enum ::brontel::br_error;
  using enum ::brontel::BR_SOURCE;
  using enum ::brontel::SyncCallBackProgress;

  BrontelAPI() = default;
  BrontelAPI(const BrontelAPI&) {}
  BrontelAPI& operator=(const BrontelAPI&) { return *this; }
  virtual ~BrontelAPI() = default;

  // The build tag, also sent as the revision stamp of requests.
  static std::string GetVersion();

  // A calendar API object for the cache directory; revision is the caller's
  // own revision text. Its log starts with the build tag and the revision.
  static CalendarApi CreateCalendarApi(const std::string& directory, std::string revision);
  // The same for the contact side.
  static CategoryApi CreateCategoryApi(const std::string& directory, std::string revision);

  // Shows length bytes as rows of 32 under parent, each byte as two upper-case
  // hex digits and a space; returns parent. REQUIRES: length >= 0.
  static TreeItem DisplayTree(TreeView& tree, TreeItem parent, int32_t length,
                              const uint8_t* bytes);
};

// Prepares the library after loading: registers every stored class so that
// files can be read back by class name. Idempotent; readers of the library call
// it themselves before the first read.
void InitBrontelDLL();

}  // namespace brontel
