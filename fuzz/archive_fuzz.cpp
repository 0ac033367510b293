// Fuzz target for reading the archive format: whole objects by class name, the
// quick forms of the record identity, record status, web content and log list,
// and log nodes as a log file holds them.
//
// Input: byte 0 chooses what is read, byte 1 the format version passed to the
// quick-form readers (from kVersions), the rest is the archive. Damaged input
// must end in an ArchiveError, never a crash. Whatever reads successfully is
// displayed, then stored, read back and stored again: the two stored forms must
// be identical and must read back completely.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "brontel/api/brontel_api.h"
#include "brontel/core/log_list.h"
#include "brontel/core/log_node.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/host/web_content.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/tree_view.h"

namespace {

using namespace brontel;

// Format versions the stored files of the library have used, plus the
// whole-object marker.
constexpr uint32_t kVersions[] = {0, 1, 2, 3, 4, 5, 8, 9, 11, 14, 15, 0xFFFFFFFF};
constexpr size_t kVersionCount = sizeof(kVersions) / sizeof(kVersions[0]);
// The version of what this library stores.
constexpr uint32_t kCurrentVersion = 15;

enum Mode : uint8_t {
  kAnyObject,
  kIdentity,
  kStatus,
  kWebContent,
  kLogList,
  kLogNode,
  kModeCount,
};

struct ReleaseObject {
  void operator()(Serializable* obj) const { obj->ReleaseReference(); }
};
using ObjectPtr = std::unique_ptr<Serializable, ReleaseObject>;

// A read of our own stored form must succeed and use every byte.
void RequireWholeRead(const Archive& ar) {
  if (ar.Remaining() != 0) __builtin_trap();
}

// ---------------------------------------------------------------------------
// Quick forms

template <class T>
std::string StoreQuick(T& obj) {
  StringSink sink;
  Archive ar(sink);
  obj.SerializeQuick(ar, Archive::kNoSchema);
  ar.Flush();
  return sink.contents();
}

// Stores first, reads that into a new T as the current version, stores the
// new T again and requires the same bytes.
template <class T>
void CheckQuickRoundTrip(T& first) {
  try {
    const std::string stored = StoreQuick(first);
    T second;
    {
      Archive ar(stored);
      second.SerializeQuick(ar, kCurrentVersion);
      RequireWholeRead(ar);
    }
    if (StoreQuick(second) != stored) __builtin_trap();
  } catch (const ArchiveError&) {
    __builtin_trap();  // our own stored form failed to read back
  }
}

// Reads a T from the input with the chosen version, shows it and checks the
// round trip. display(obj) exercises the display operations.
template <class T, class Display>
void FuzzQuick(std::string_view input, uint32_t version, Display display) {
  T obj;
  try {
    Archive ar(input);
    obj.SerializeQuick(ar, version);
  } catch (const ArchiveError&) {
    return;
  }
  display(obj);
  CheckQuickRoundTrip(obj);
}

void ShowTree(const LogAble& obj) {
  TextTree tree;
  obj.DisplayTree(tree, kTreeRoot);
  ExpandLogItems(tree);
  (void)tree.Render();
}

// ---------------------------------------------------------------------------
// Whole objects

std::string StoreObject(const Serializable* obj) {
  StringSink sink;
  Archive ar(sink);
  ar.WriteObject(obj);
  ar.Flush();
  return sink.contents();
}

void ShowObject(const Serializable* obj) {
  if (obj == nullptr) return;
  if (const auto* node = dynamic_cast<const LogNode*>(obj)) {
    (void)node->GetDisplayString();
    TextTree tree;
    node->DisplayTree(tree, kTreeRoot);
    ExpandLogItems(tree);
    (void)tree.Render();
  }
}

// Reads an object record with read(ar); on success shows the object, stores
// it, reads it back and stores it again, requiring the same bytes.
template <class Read>
void FuzzObject(std::string_view input, Read read) {
  ObjectPtr first;
  try {
    Archive ar(input);
    first.reset(read(ar));
  } catch (const ArchiveError&) {
    return;
  }
  ShowObject(first.get());
  try {
    const std::string stored = StoreObject(first.get());
    ObjectPtr second;
    {
      Archive ar(stored);
      second.reset(read(ar));
      RequireWholeRead(ar);
    }
    if ((first == nullptr) != (second == nullptr)) __builtin_trap();
    if (StoreObject(second.get()) != stored) __builtin_trap();
  } catch (const ArchiveError&) {
    __builtin_trap();
  }
}

}  // namespace

// Records stored in their oldest, object-by-object form may name each other in
// cycles (an event and its placements count each other). Read from a hostile
// file whose read succeeds, such a cycle that no manager owns is never freed:
// a bounded leak, not a fault this target looks for. Crashes, undefined
// behaviour and failed round trips still stop the run.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (InitBrontelDLL(), true);
  (void)initialized;
  if (size < 2) return 0;

  const Mode mode = static_cast<Mode>(data[0] % kModeCount);
  const uint32_t version = kVersions[data[1] % kVersionCount];
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

  switch (mode) {
    case kAnyObject:
      FuzzObject(input, [](Archive& ar) { return ar.ReadObject(); });
      break;
    case kIdentity:
      FuzzQuick<RecordIdentification>(input, version, [](const RecordIdentification& id) {
        (void)id.GetDisplayString();
        (void)Versioning::IsNewer(id.GetVersion(), id);
      });
      break;
    case kStatus:
      FuzzQuick<RecordStatus>(input, version,
                              [](const RecordStatus& status) { (void)status.GetDisplayString(); });
      break;
    case kWebContent:
      FuzzQuick<WebContent>(input, version, [](const WebContent& content) {
        (void)content.GetDisplayString();
        (void)content.Equal(content.Clone());
      });
      break;
    case kLogList:
      FuzzQuick<LogList>(input, version, [](const LogList& list) {
        (void)list.GetDisplayString();
        ShowTree(list);
      });
      break;
    case kLogNode:
      FuzzObject(input, [](Archive& ar) -> Serializable* { return ReadObjectAs<LogNode>(ar); });
      break;
    case kModeCount:
      break;
  }
  return 0;
}
