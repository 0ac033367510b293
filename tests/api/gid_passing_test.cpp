// The account id passed between the two families of one directory: both
// caches must end with the one account, and a caller must learn when they do
// not.
// - An id that could not be passed on (the other cache unreadable) makes
//   SetGID report false, and is passed by the next operation: the same
//   object's next synchronization, or any object's SetGID or
//   RequestGIDFromServer.
// - A cache that holds another account keeps it, and the caller hears of it.
// - A family never holds its own lock while it waits for the other's, so two
//   programs setting both ids at once do not stall each other.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/reliability_fixture.h"
#include "brontel/platform/file_lock.h"
#include "support/api_fixture.h"

namespace brontel {
namespace {

using testing::CacheAccount;
using testing::CalendarFamily;
using testing::ContactFamily;
using testing::Gid;
using testing::ReadFileOrMissing;
using testing::TempDir;
using testing::WriteFileBytes;

std::string Account(uint8_t seed) {
  return "gid " + Gid(seed).GetString();
}

const char* CacheName(const CalendarFamily&) {
  return "calendar cache";
}
const char* CacheName(const ContactFamily&) {
  return "contact cache";
}

class GidPassingTest : public testing::ApiTest {
 protected:
  // How the id first reaches From's cache: by SetGID, or by a desktop
  // synchronization of records that carry it.
  enum class Source { kSetGid, kDesktopSync };
  // Who passes it on once the other cache can be read again.
  enum class Retry { kSameObjectsNextSync, kSetGidWithoutId, kRequestGidFromServer };

  // From's cache takes account 1 while To's cache is damaged: From reports the
  // failure and keeps the id; once To's cache is gone, retry passes it on.
  template <class From, class To>
  void PassAfterFailure(Source source, Retry retry) {
    SCOPED_TRACE(::testing::Message()
                 << From::kName << " to " << To::kName << ", source " << static_cast<int>(source)
                 << ", retry " << static_cast<int>(retry));
    TempDir dir;
    const std::string damaged = "not a cache at all";
    WriteFileBytes(dir.File(To::kCacheFile), damaged);
    typename From::Api api = From::Open(dir.path());
    if (source == Source::kSetGid) {
      EXPECT_FALSE(api.SetGID(Gid(1)));
      EXPECT_EQ(api.GetErrorMessage(), std::string("Unable to pass the account id to the ") +
                                           CacheName(To()) + " in " + dir.path());
    } else {
      From::Records(api).SetGID(Gid(1));
      From::AddGroup(From::Records(api), "Work");
      // The synchronization itself succeeded; the id waits in the object.
      EXPECT_EQ(api.SyncDesktop(), ERR_NONE);
    }
    EXPECT_EQ(CacheAccount<From>(dir.path()), Account(1));
    EXPECT_EQ(ReadFileOrMissing(dir.File(To::kCacheFile)), damaged);

    ASSERT_TRUE(std::filesystem::remove(dir.File(To::kCacheFile)));
    switch (retry) {
      case Retry::kSameObjectsNextSync:
        EXPECT_EQ(api.SyncDesktop(), ERR_NONE);
        break;
      case Retry::kSetGidWithoutId:
        EXPECT_TRUE(From::Open(dir.path()).SetGID(UID128()));
        break;
      case Retry::kRequestGidFromServer:
        // The cache has an id: no server is asked.
        EXPECT_TRUE(From::Open(dir.path()).RequestGIDFromServer("ann", "secret"));
        break;
    }
    EXPECT_EQ(CacheAccount<To>(dir.path()), Account(1));
  }

  // To's cache holds account 2 and From's none: From takes account 1 and
  // reports that To keeps its own.
  template <class From, class To>
  void KeepOtherAccount() {
    SCOPED_TRACE(From::kName);
    TempDir dir;
    ASSERT_TRUE(To::Open(dir.path()).SetGID(Gid(2)));
    ASSERT_TRUE(std::filesystem::remove(dir.File(From::kCacheFile)));
    typename From::Api api = From::Open(dir.path());
    EXPECT_FALSE(api.SetGID(Gid(1)));
    EXPECT_EQ(api.GetErrorMessage(), std::string("The ") + CacheName(To()) + " in " + dir.path() +
                                         " holds another account id");
    EXPECT_EQ(CacheAccount<From>(dir.path()), Account(1));
    EXPECT_EQ(CacheAccount<To>(dir.path()), Account(2));
  }

  // While a program holds To's lock, From's SetGID waits for it to pass the
  // id on, but without holding From's lock: From's lock can be had then.
  template <class From, class To>
  void WaitWithoutOwnLock() {
    SCOPED_TRACE(From::kName);
    TempDir dir;
    FileLock otherLock(dir.File(To::Api::kLockFile));
    ASSERT_TRUE(otherLock.Acquire());
    bool accepted = false;
    std::thread setter([&] { accepted = From::Open(dir.path()).SetGID(Gid(1)); });
    // Once From's cache holds the id, From waits for To's lock.
    for (int i = 0; i < 3000 && CacheAccount<From>(dir.path()) != Account(1); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FileLock ownLock(dir.File(From::Api::kLockFile));
    // Well under the 10 s a family waits for the other's lock: a SetGID that
    // held its own lock meanwhile would keep it for all of them.
    EXPECT_TRUE(ownLock.TryAcquireFor(std::chrono::seconds(5)));
    ownLock.Release();
    otherLock.Release();
    setter.join();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(CacheAccount<To>(dir.path()), Account(1));
  }
};

TEST_F(GidPassingTest, AnIdThatCouldNotBePassedOnIsReportedAndPassedByTheNextOperation) {
  for (Source source : {Source::kSetGid, Source::kDesktopSync}) {
    for (Retry retry :
         {Retry::kSameObjectsNextSync, Retry::kSetGidWithoutId, Retry::kRequestGidFromServer}) {
      PassAfterFailure<CalendarFamily, ContactFamily>(source, retry);
      PassAfterFailure<ContactFamily, CalendarFamily>(source, retry);
    }
  }
}

TEST_F(GidPassingTest, AnotherAccountInTheOtherFamilysCacheIsKeptAndReported) {
  KeepOtherAccount<CalendarFamily, ContactFamily>();
  KeepOtherAccount<ContactFamily, CalendarFamily>();
}

TEST_F(GidPassingTest, SettingTheIdHoldsNoLockWhileWaitingForTheOtherFamilysLock) {
  WaitWithoutOwnLock<CalendarFamily, ContactFamily>();
  WaitWithoutOwnLock<ContactFamily, CalendarFamily>();
}

}  // namespace
}  // namespace brontel
