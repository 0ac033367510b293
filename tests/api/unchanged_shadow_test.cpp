// Tests that a synchronization leaves the handheld shadow file alone when it
// would store the very bytes the file holds, and replaces it otherwise: after
// an edit, and when the file no longer holds what the object last wrote (the
// comparison is with the file, never with a copy kept in memory). A file left
// alone is synced in place, as durable as a written one.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "tracing_file_system.h"

namespace brontel {
namespace {

using testing::FaultyFileSystem;
using testing::TracingFileSystem;
using Versions = std::map<std::string, std::vector<std::string>>;

// A handheld copy of either family with one record, synchronized once.
struct CalendarHandheld {
  static constexpr const char* kCache = CalendarApi::kCacheFile;
  static constexpr const char* kShadow = CalendarApi::kHandheldShadowFile;
  explicit CalendarHandheld(const std::string& dir)
      : api(BrontelAPI::CreateCalendarApi(dir, "2.1")) {
    CalendarManager records = api.GetCalendarManager();
    Calendar work = testing::AddCalendar(records, "Work");
    testing::AddEvent(records, "Dentist", {work});
  }
  br_error First() { return api.SyncHandheldFirstTime(); }
  br_error Sync() { return api.SyncHandheld(); }
  void Edit() {
    Event event = api.GetCalendarManager().GetEventList()[0];
    event.GetEventDescriptor().SetName("Dentist at 9");
    event.SetDirty();
  }
  CalendarApi api;
};

struct ContactHandheld {
  static constexpr const char* kCache = CategoryApi::kCacheFile;
  static constexpr const char* kShadow = CategoryApi::kHandheldShadowFile;
  explicit ContactHandheld(const std::string& dir)
      : api(BrontelAPI::CreateCategoryApi(dir, "ann")) {
    Category friends = testing::AddCategory(api.GetCategoryManager(), "Friends");
    testing::AddContact(api.GetCategoryManager(), friends, "Smith").SetLocalId(1);
  }
  br_error First() { return api.SyncHandheld(); }
  br_error Sync() { return api.SyncHandheld(); }
  void Edit() {
    Category friends = api.GetCategoryManager().GetCategoryList()[0];
    testing::AddContact(api.GetCategoryManager(), friends, "Jones").SetLocalId(2);
  }
  CategoryApi api;
};

template <class Family>
class UnchangedShadowTest : public testing::ApiTest {
 protected:
  // Runs one synchronization under a tracing file system and returns the
  // contents each stored file took.
  Versions SyncTraced(Family& copy) {
    TracingFileSystem tracing;
    tracing.Fail(FaultyFileSystem::Op::kNone, 0, false);
    EXPECT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
    return tracing.Versions();
  }
};

using Families = ::testing::Types<CalendarHandheld, ContactHandheld>;
TYPED_TEST_SUITE(UnchangedShadowTest, Families);

TYPED_TEST(UnchangedShadowTest, AnUnchangedShadowIsNotRewrittenAChangedOneIs) {
  TypeParam copy(this->m_dir.path());
  ASSERT_EQ(copy.First(), ERR_NONE) << copy.api.GetErrorMessage();
  ASSERT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
  const std::string shadow = this->FileBytes(TypeParam::kShadow);

  // Nothing changed: the cache takes its new sequence, the shadow stays.
  const Versions unchanged = this->SyncTraced(copy);
  EXPECT_EQ(unchanged, (Versions{{TypeParam::kCache, {this->FileBytes(TypeParam::kCache)}}}));
  EXPECT_EQ(this->FileBytes(TypeParam::kShadow), shadow);

  // An edit on the handheld reaches the shadow.
  copy.Edit();
  const Versions edited = this->SyncTraced(copy);
  ASSERT_EQ(edited.count(TypeParam::kShadow), 1u);
  EXPECT_EQ(edited.at(TypeParam::kShadow),
            std::vector<std::string>{this->FileBytes(TypeParam::kShadow)});
  EXPECT_NE(this->FileBytes(TypeParam::kShadow), shadow);
}

TYPED_TEST(UnchangedShadowTest, AShadowLeftAloneIsSyncedInPlaceOrWrittenAgain) {
  TypeParam copy(this->m_dir.path());
  ASSERT_EQ(copy.First(), ERR_NONE) << copy.api.GetErrorMessage();
  ASSERT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
  const std::string shadow = this->FileBytes(TypeParam::kShadow);
  const std::string directory = TracingFileSystem::NameOf(this->m_dir.path());
  {
    // The write that put the file there may have stopped before its
    // directory was synced: the file and the directory are synced again.
    TracingFileSystem tracing;
    tracing.Fail(FaultyFileSystem::Op::kNone, 0, false);
    ASSERT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
    EXPECT_EQ(tracing.Versions().count(TypeParam::kShadow), 0u);
    EXPECT_EQ(tracing.Syncs(TypeParam::kShadow), 1);
    EXPECT_EQ(tracing.Syncs(directory), 2);  // the cache's rename, the shadow
  }
  {
    // A shadow that cannot be synced where it is is written again. The
    // third sync: the cache's temporary file, its directory, the shadow.
    TracingFileSystem tracing;
    tracing.Fail(FaultyFileSystem::Op::kFsync, 3, false);
    ASSERT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
    EXPECT_EQ(tracing.Hits(), std::vector<std::string>{this->Path(TypeParam::kShadow)});
    ASSERT_EQ(tracing.Versions().count(TypeParam::kShadow), 1u);
    EXPECT_EQ(tracing.Versions().at(TypeParam::kShadow), std::vector<std::string>{shadow});
  }
}

TYPED_TEST(UnchangedShadowTest, AShadowFileThatNoLongerHoldsTheShadowIsWrittenAgain) {
  TypeParam copy(this->m_dir.path());
  ASSERT_EQ(copy.First(), ERR_NONE) << copy.api.GetErrorMessage();
  ASSERT_EQ(copy.Sync(), ERR_NONE) << copy.api.GetErrorMessage();
  const std::string shadow = this->FileBytes(TypeParam::kShadow);

  // The object read its shadow once and keeps it; the file is what it writes
  // over, whatever the file holds now: cut short, or one byte changed.
  std::string flipped = shadow;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x01);
  for (const std::string& spoiled : {shadow.substr(0, shadow.size() - 1), flipped}) {
    testing::WriteFileBytes(this->Path(TypeParam::kShadow), spoiled);
    const Versions written = this->SyncTraced(copy);
    EXPECT_EQ(written.count(TypeParam::kShadow), 1u);
    EXPECT_EQ(this->FileBytes(TypeParam::kShadow), shadow);
  }
}

}  // namespace
}  // namespace brontel
