// Tests of CategoryServerTransformation, one server pass of the contact
// synchronization, against a scripted local server: what each pass sends (byte
// for byte), how the server's answer reaches the cache (subscribed categories
// follow the server, owned ones deleted there stay as local ones, changes in
// read-only categories are undone and reported, the server wins over a local
// edit that becomes the conflict), unfiled contacts, answers that would trip a
// careless merge (no account id, several removals, records the cache lacks),
// transport failures, progress stages, and the engine's logged form.
#include "brontel/sync/category_server_transformation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_classes.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/build_tag.h"
#include "brontel/core/uid128.h"
#include "brontel/host/time_logger.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "brontel/platform/tree_view.h"
#include "support/api_fixture.h"
#include "support/contact_fixture.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::CategoryNames;
using testing::ContactNames;
using testing::StoreCache;
using testing::StoreManager;

const UID128 kAccount = testing::Gid(1);
constexpr char kUser[] = "user";

// ---- The server's answers ----

std::string Flag(bool v) {
  return v ? "1" : "0";
}

std::string CategoryElement(uint32_t sid, uint32_t ver, const std::string& name,
                            CategoryKind kind) {
  return Format(
      "<category act=\"1\" sid=\"%x\" ver=\"%x\" ro=\"%s\" own=\"%s\"><name>%s</name>"
      "</category>",
      sid, ver, Flag(kind.readOnly).c_str(), Flag(kind.owned).c_str(), name.c_str());
}

std::string CategoryDeleted(uint32_t sid, uint32_t ver) {
  return Format("<category act=\"2\" sid=\"%x\" ver=\"%x\"/>", sid, ver);
}

// A contact known by its last name (datum 0x12), with a first name (0x11).
std::string ContactElement(uint32_t sid, uint32_t ver, const std::string& last,
                           const std::string& first = "") {
  std::string datums = Format("<datum index=\"12\">%s</datum>", last.c_str());
  if (!first.empty()) datums += Format("<datum index=\"11\">%s</datum>", first.c_str());
  return Format("<contact act=\"1\" sid=\"%x\" ver=\"%x\">", sid, ver) + datums + "</contact>";
}

std::string LinkElement(uint32_t sid, uint32_t categorySid, uint32_t ver) {
  return Format("<contact act=\"4\" sid=\"%x\"><link psid=\"%x\" pver=\"%x\"/></contact>", sid,
                categorySid, ver);
}

std::string ContactDeleted(uint32_t sid, uint32_t ver) {
  return Format("<contact act=\"2\" sid=\"%x\" ver=\"%x\"/>", sid, ver);
}

std::string Answer(uint32_t version, const std::string& body) {
  return Format("<tandroresp ts=\"0\" sts=\"1\" ver=\"%x\" full=\"0\"><gid>", version) +
         kAccount.GetString() + "</gid>" + body + "</tandroresp>";
}

// The server's state that Seed() brings cache and shadow to, at version 5:
// Work (published) with Adams and Baker, Club (subscribed, writable) with
// Clark, News (subscribed, read-only) with Dunn.
constexpr uint32_t kSeedVersion = 5;
constexpr uint32_t kWork = 0x10, kClub = 0x11, kNews = 0x12;
constexpr uint32_t kAdams = 0x20, kBaker = 0x21, kClark = 0x22, kDunn = 0x23;

std::string SeedBody() {
  const uint32_t v = kSeedVersion;
  return CategoryElement(kWork, v, "Work", CategoryKind::Published()) +
         CategoryElement(kClub, v, "Club", CategoryKind::SubscribedReadWrite()) +
         CategoryElement(kNews, v, "News", CategoryKind::SubscribedReadOnly()) +
         ContactElement(kAdams, v, "Adams") + LinkElement(kAdams, kWork, v) +
         ContactElement(kBaker, v, "Baker") + LinkElement(kBaker, kWork, v) +
         ContactElement(kClark, v, "Clark") + LinkElement(kClark, kClub, v) +
         ContactElement(kDunn, v, "Dunn") + LinkElement(kDunn, kNews, v);
}

// ---- Looking at managers ----

std::string FirstName(const Contact& c) {
  return c.GetContactDescriptor().GetDatum(ContactDescriptor::kFirstName);
}

void SetFirstName(Contact c, const std::string& first) {
  c.GetContactDescriptor().SetDatum(ContactDescriptor::kFirstName, first);
}

Category FindCategory(const CategoryManager& manager, const std::string& name) {
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].GetCategoryDescriptor().GetCategoryName() == name) return categories[i];
  }
  return Category();
}

// "name@category" (first name added after a comma) for every contact, in list
// order, "|"-separated.
std::string Placement(const CategoryManager& manager) {
  std::string out;
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& c = contacts[i];
    if (i > 0) out += "|";
    out += c.GetShortDisplayString() + "@" + c.GetCategory().GetShortDisplayString();
  }
  return out;
}

// Every detail of every notice, "kind: text" one per line.
std::string NoticeLines(const UserNoticeManager& notices) {
  std::string out;
  for (int32_t i = 0; i < notices.GetListCount(); ++i) {
    const std::string& details = notices[i].GetDetails();
    size_t start = 0;
    for (size_t end = details.find('\n'); end != std::string::npos;
         start = end + 1, end = details.find('\n', start)) {
      out += Format("%d: ", notices[i].GetNoticeType()) + details.substr(start, end - start) + "\n";
    }
  }
  return out;
}

// ---- The fixture ----

class CategoryServerTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<testing::ScriptedSyncServer>();
    Cache().SetGID(kAccount);
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  // An engine for the pass on the fixture's cache and shadow.
  CategoryServerTransformation MakeEngine(bool second) {
    CategoryServerTransformation engine;
    engine.SetSecondPass(second);
    engine.SetUser(kUser);
    engine.SetCache(m_cache);
    engine.SetServerShadow(m_shadow);
    engine.SetUserNotices(&m_notices);
    return engine;
  }

  // Runs one pass; the fixture takes the engine's cache, shadow, conflicts and
  // error message.
  br_error RunPass(bool second) {
    CategoryServerTransformation engine = MakeEngine(second);
    br_error result = engine.SyncServer(nullptr, m_dir.path().c_str(), nullptr, true);
    TakeBack(engine);
    return result;
  }

  void TakeBack(const CategoryServerTransformation& engine) {
    m_cache = engine.GetCache();
    m_shadow = engine.GetServerShadow();
    m_conflicts = engine.SyncConflicts();
    m_error = engine.GetErrorMessage();
  }

  // A first pass whose answer is the seed state: cache and shadow agree.
  void Seed() {
    m_server->Answer(Answer(kSeedVersion, SeedBody()));
    ASSERT_EQ(RunPass(false), ERR_NONE) << m_error;
    ASSERT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Clark@Club|Dunn@News");
    m_notices = UserNoticeManager();
  }

  // A first pass answered with body at version.
  br_error Update(uint32_t version, const std::string& body) {
    m_server->Answer(Answer(version, body));
    return RunPass(false);
  }

  CategoryManager Cache() const { return m_cache.GetCategoryManager(); }
  Contact CacheContact(uint32_t fixedId) const {
    return Cache().FindContactByFixedId(fixedId, false);
  }
  Category CacheCategory(uint32_t fixedId) const { return Cache().FindByFixedId(fixedId, false); }
  std::string LastRequest() const {
    std::vector<std::string> requests = m_server->Requests();
    return requests.empty() ? "" : requests.back();
  }
  std::string RequestHead(uint32_t version) const {
    return Format("<tandroreq ts=\"0\" ver=\"%x\" rev=\"%s:%s\" lev=\"3\" typ=\"2\"><gid>", version,
                  kBuildTag, kUser) +
           kAccount.GetString() + "</gid>";
  }

  std::unique_ptr<testing::ScriptedSyncServer> m_server;
  CategoryCache m_cache;
  CategoryManager m_shadow;
  UserNoticeManager m_notices;
  int32_t m_conflicts = -1;
  std::string m_error;
};

// ---- What a pass sends ----

TEST_F(CategoryServerTest, FirstPassAlwaysAsksAndAnIdleSecondPassSendsNothing) {
  m_server->Answer(Answer(1, ""));
  ASSERT_EQ(RunPass(false), ERR_NONE) << m_error;
  ASSERT_EQ(m_server->RequestCount(), 1u);
  EXPECT_EQ(LastRequest(), RequestHead(0xFFFFFFFF) + "</tandroreq>");
  EXPECT_EQ(Cache().GetVersion(), 1u);

  const std::string cacheBytes = StoreCache(m_cache);
  const std::string shadowBytes = StoreManager(m_shadow);
  EXPECT_EQ(RunPass(true), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), 1u);
  EXPECT_EQ(StoreCache(m_cache), cacheBytes);
  EXPECT_EQ(StoreManager(m_shadow), shadowBytes);
}

TEST_F(CategoryServerTest, SeededPassesSendNothingUntilTheCacheChanges) {
  Seed();
  EXPECT_EQ(RunPass(true), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), 1u);
}

TEST_F(CategoryServerTest, SecondPassBehindTheCacheFailsBeforeSending) {
  Seed();
  Cache().SetVersion(kSeedVersion + 1);
  EXPECT_EQ(RunPass(true), ERR_NO_SERVER_UPDATE);
  EXPECT_EQ(m_error, "Unable to obtain server update");
  EXPECT_EQ(m_server->RequestCount(), 1u);
}

TEST_F(CategoryServerTest, SecondPassSendsEachLocalChange) {
  Seed();
  CategoryManager cache = Cache();
  Category golf = AddCategory(cache, "Golf", CategoryKind::Published(), 0x300);
  CacheCategory(kWork).GetCategoryDescriptor().SetDescription("Team");
  AddContact(cache, golf, "Evans", 0x400);
  SetFirstName(CacheContact(kBaker), "Bob");
  Contact adams = CacheContact(kAdams);
  adams.SetCategory(CacheCategory(kClub));
  adams.SetLinkVersion(7);
  // Nothing in a read-only category, nor in a local one, goes out.
  SetFirstName(CacheContact(kDunn), "Dan");
  AddContact(cache, AddCategory(cache, "Home"), "Hill");

  m_server->Answer(Answer(kSeedVersion + 1, ""));
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  ASSERT_EQ(m_server->RequestCount(), 2u);
  EXPECT_EQ(LastRequest(),
            RequestHead(kSeedVersion) +
                "<category act=\"1\" sid=\"10\" ver=\"5\" ro=\"0\" own=\"1\"><name>Work</name>"
                "<desc>Team</desc><color>0</color></category>"
                "<category act=\"0\" lid=\"300\" ro=\"0\" own=\"1\"><name>Golf</name>"
                "<color>0</color></category>"
                "<contact act=\"4\" sid=\"20\" ver=\"5\"><link psid=\"11\" pver=\"7\"/></contact>"
                "<contact act=\"5\" sid=\"20\" ver=\"5\"><link psid=\"10\" pver=\"7\"/></contact>"
                "<contact act=\"1\" sid=\"21\" ver=\"5\" flg=\"0\" opt=\"0\" ofs=\"0\">"
                "<datum index=\"11\">Bob</datum><datum index=\"12\">Baker</datum></contact>"
                "<contact act=\"0\" lid=\"400\" flg=\"0\" opt=\"0\" ofs=\"0\">"
                "<datum index=\"12\">Evans</datum><link psid=\"300\" pver=\"ffffffff\"/>"
                "</contact></tandroreq>");
}

TEST_F(CategoryServerTest, SecondPassDeletesWhatTheCacheDroppedExceptOthersContacts) {
  Seed();
  // Baker was deleted here, Clark left the shared categories, Work is gone;
  // Dunn was deleted in a read-only category, which is not the client's to do.
  CacheContact(kBaker).Remove();
  Contact clark = CacheContact(kClark);
  Cache().MakeUnfiled(clark);
  CacheContact(kDunn).Remove();
  CacheContact(kAdams).Remove();
  CacheCategory(kWork).Remove();

  m_server->Answer(Answer(kSeedVersion + 1, ""));
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  EXPECT_EQ(LastRequest(), RequestHead(kSeedVersion) +
                               "<category act=\"3\" sid=\"10\" ver=\"5\"/>"
                               "<contact act=\"3\" sid=\"20\" ver=\"5\"/>"
                               "<contact act=\"3\" sid=\"21\" ver=\"5\"/>"
                               "<contact act=\"3\" sid=\"22\" ver=\"5\"/></tandroreq>");
}

// ---- Categories in the share update ----

struct RenameCase {
  const char* serverName;
  const char* cacheName;
  const char* notices;
};

void PrintTo(const RenameCase& c, std::ostream* os) {
  *os << c.serverName;
}

class SubscribedRenameTest : public CategoryServerTest,
                             public ::testing::WithParamInterface<RenameCase> {};

TEST_P(SubscribedRenameTest, SubscribedCategoryFollowsTheServersName) {
  const RenameCase& param = GetParam();
  Seed();
  AddCategory(Cache(), "Golf");  // the user's own
  ASSERT_EQ(
      Update(6, CategoryElement(kClub, 6, param.serverName, CategoryKind::SubscribedReadWrite())),
      ERR_NONE)
      << m_error;
  EXPECT_EQ(CacheCategory(kClub).GetCategoryDescriptor().GetCategoryName(), param.cacheName);
  EXPECT_EQ(Placement(Cache()),
            Format("Adams@Work|Baker@Work|Clark@%s|Dunn@News", param.cacheName));
  EXPECT_EQ(NoticeLines(m_notices), param.notices);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SubscribedRenameTest,
    ::testing::Values(RenameCase{"Tennis", "Tennis", ""},
                      RenameCase{"Golf", "Golf*1",
                                 "1: Subscribed category 'Golf' renamed as 'Golf*1'\n"}));

TEST_F(CategoryServerTest, OwnedCategoryDeletedOnTheServerStaysAsALocalOne) {
  Seed();
  ASSERT_EQ(Update(6, CategoryDeleted(kWork, 6) + CategoryDeleted(kClub, 6)), ERR_NONE) << m_error;
  Category work = FindCategory(Cache(), "Work");
  ASSERT_FALSE(work.IsNull());
  CategoryDescriptor d = work.GetCategoryDescriptor();
  EXPECT_FALSE(d.GetSharedFlag());
  EXPECT_FALSE(d.GetReadOnlyFlag());
  EXPECT_TRUE(d.GetOwnedFlag());
  EXPECT_EQ(work.GetVersion(), 6u);
  // A subscribed category deleted there goes, and its contacts with it.
  EXPECT_EQ(CategoryNames(Cache()), "Work|News");
  EXPECT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Dunn@News");
  EXPECT_EQ(CategoryNames(m_shadow), "News");
  EXPECT_EQ(Cache().GetVersion(), 6u);
}

// ---- Contacts in the share update ----

TEST_F(CategoryServerTest, ServerEditWinsOverALocalEditWhichBecomesTheConflict) {
  Seed();
  Contact adams = CacheContact(kAdams);
  SetFirstName(adams, "Local");
  adams.SetSource(SOURCE_DESKTOP);
  // Baker was edited too, but the server did not touch it: it stays as edited.
  SetFirstName(CacheContact(kBaker), "Kept");
  CacheContact(kBaker).SetSource(SOURCE_DESKTOP);

  ASSERT_EQ(Update(6, ContactElement(kAdams, 6, "Adams", "Server")), ERR_NONE) << m_error;
  EXPECT_EQ(m_conflicts, 1);
  EXPECT_EQ(FirstName(adams), "Server");
  EXPECT_EQ(adams.GetVersion(), 6u);
  ASSERT_TRUE(adams.IsConflicted());
  EXPECT_EQ(FirstName(adams.GetConflict()), "Local");
  EXPECT_EQ(FirstName(CacheContact(kBaker)), "Kept");
  EXPECT_FALSE(CacheContact(kBaker).IsConflicted());
}

TEST_F(CategoryServerTest, ServerEditOverAnUnchangedContactIsNoConflict) {
  Seed();
  ASSERT_EQ(Update(6, ContactElement(kAdams, 6, "Adams", "Server")), ERR_NONE) << m_error;
  EXPECT_EQ(m_conflicts, 0);
  EXPECT_EQ(FirstName(CacheContact(kAdams)), "Server");
  EXPECT_FALSE(CacheContact(kAdams).IsConflicted());
}

TEST_F(CategoryServerTest, ServerMovesAndRemovalsReachTheCache) {
  Seed();
  ASSERT_EQ(Update(6, LinkElement(kAdams, kClub, 6) + ContactDeleted(kBaker, 6) +
                          ContactElement(0x24, 6, "Evans") + LinkElement(0x24, kNews, 6)),
            ERR_NONE)
      << m_error;
  EXPECT_EQ(Placement(Cache()), "Adams@Club|Clark@Club|Dunn@News|Evans@News");
  EXPECT_EQ(CacheContact(kAdams).GetLinkVersion(), 6u);
  EXPECT_EQ(NoticeLines(m_notices), "");
}

TEST_F(CategoryServerTest, ContactMadePrivateLeavesTheServerAndStaysHere) {
  Seed();
  Contact baker = CacheContact(kBaker);
  baker.GetContactDescriptor().SetIsPrivate(true);
  // The server deletes its copy and answers with the deletion.
  m_server->Answer(Answer(6, ContactDeleted(kBaker, 6)));
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  EXPECT_EQ(LastRequest(),
            RequestHead(kSeedVersion) + "<contact act=\"3\" sid=\"21\" ver=\"5\"/></tandroreq>");
  ASSERT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Clark@Club|Dunn@News");
  EXPECT_TRUE(CacheContact(kBaker).GetContactDescriptor().GetIsPrivate());
  EXPECT_EQ(ContactNames(m_shadow), "Adams|Clark|Dunn");
  // It stays off the server: the next pass has nothing to send.
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  EXPECT_EQ(m_server->RequestCount(), 2u);
}

TEST_F(CategoryServerTest, ReadOnlyEditIsUndoneAndKeptInUnfiled) {
  Seed();
  Contact dunn = CacheContact(kDunn);
  SetFirstName(dunn, "Local");
  dunn.SetSource(SOURCE_DESKTOP);
  ASSERT_EQ(Update(kSeedVersion, ""), ERR_NONE) << m_error;
  EXPECT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Clark@Club|Dunn@News|Dunn, Local@Unfiled");
  EXPECT_FALSE(dunn.IsConflicted());
  EXPECT_EQ(m_conflicts, 1);
  EXPECT_EQ(NoticeLines(m_notices), "2: Contact Dunn, Local moved to Unfiled\n");
}

TEST_F(CategoryServerTest, ReadOnlyDeletionIsUndone) {
  Seed();
  CacheContact(kDunn).Remove();
  ASSERT_EQ(Update(kSeedVersion, ""), ERR_NONE) << m_error;
  EXPECT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Clark@Club|Dunn@News");
  EXPECT_EQ(NoticeLines(m_notices), "4: Deleted contact Dunn restored to category News\n");
}

TEST_F(CategoryServerTest, ReadOnlyMovesAreUndone) {
  Seed();
  // Clark was moved into News, Dunn out of it; Hill was added to News.
  CacheContact(kClark).SetCategory(CacheCategory(kNews));
  CacheContact(kDunn).SetCategory(CacheCategory(kWork));
  Category news = CacheCategory(kNews);
  AddContact(Cache(), news, "Hill");
  ASSERT_EQ(Update(kSeedVersion, ""), ERR_NONE) << m_error;
  EXPECT_EQ(Placement(Cache()), "Adams@Work|Baker@Work|Clark@Club|Dunn@News|Hill@Unfiled");
  EXPECT_EQ(NoticeLines(m_notices),
            "3: Contact Clark moved to category Club\n"
            "3: Contact Dunn moved to category News\n"
            "2: Contact Hill moved to Unfiled\n");
}

TEST_F(CategoryServerTest, UnfiledContactsSurviveBothPasses) {
  Seed();
  CategoryManager cache = Cache();
  Category unfiled = cache.CreateNewCategory(true);
  AddContact(cache, Category(), "Ford");
  AddContact(cache, unfiled, "Gray");

  ASSERT_EQ(Update(6, ContactElement(kAdams, 6, "Adams", "Al")), ERR_NONE) << m_error;
  EXPECT_EQ(Placement(Cache()),
            "Adams, Al@Work|Baker@Work|Clark@Club|Dunn@News|Ford@Unfiled|Gray@");

  SetFirstName(CacheContact(kBaker), "Bob");
  m_server->Answer(Answer(7, ContactElement(kBaker, 7, "Baker", "Bob")));
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  EXPECT_EQ(m_server->RequestCount(), 3u);
  EXPECT_EQ(LastRequest().find("Ford"), std::string::npos);
  EXPECT_EQ(LastRequest().find("Gray"), std::string::npos);
  EXPECT_EQ(Placement(Cache()),
            "Adams, Al@Work|Baker, Bob@Work|Clark@Club|Dunn@News|Ford@Unfiled|Gray@");
}

// A contact this client sent back as its own after the server withdrew the
// record it came from keeps the fixed id derived from that record's server id.
// When the server's record comes back, it still reaches the cache, under a
// fixed id of its own that the shadow takes too, and the two stay in step.
TEST_F(CategoryServerTest, AServerContactWhoseFixedIdIsTakenArrivesUnderAFreshOne) {
  Seed();
  constexpr uint32_t kFord = 0x30, kFordCopy = 0x31;
  AddContact(Cache(), CacheCategory(kWork), "Ford", kFord);
  m_server->Answer(Answer(6, Format("<contact act=\"0\" sid=\"%x\" lid=\"%x\" ver=\"6\">"
                                    "<datum index=\"12\">Ford</datum></contact>",
                                    kFordCopy, kFord) +
                                 LinkElement(kFordCopy, kWork, 6)));
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  ASSERT_EQ(m_shadow.FindContactByServeId(kFordCopy, false).GetFixedId(), kFord);

  ASSERT_EQ(Update(7, ContactElement(kFord, 7, "Ford", "Fay") + LinkElement(kFord, kClub, 7)),
            ERR_NONE)
      << m_error;
  EXPECT_EQ(Placement(Cache()),
            "Adams@Work|Baker@Work|Clark@Club|Dunn@News|Ford@Work|Ford, Fay@Club");
  const Contact fay = m_shadow.FindContactByServeId(kFord, false);
  ASSERT_FALSE(fay.IsNull());
  EXPECT_NE(fay.GetFixedId(), kFord);
  EXPECT_EQ(FirstName(CacheContact(fay.GetFixedId())), "Fay");
  EXPECT_TRUE(Cache().SanityCheck());
  EXPECT_TRUE(m_shadow.SanityCheck());
  ASSERT_EQ(RunPass(true), ERR_NONE) << m_error;
  EXPECT_EQ(m_server->RequestCount(), 3u);
}

// ---- Answers a careless merge trips over ----

TEST_F(CategoryServerTest, AnswerWithoutAccountIdKeepsTheCachesAccount) {
  m_server->Answer("<tandroresp ts=\"0\" sts=\"1\" ver=\"1\">" +
                   CategoryElement(kWork, 1, "Work", CategoryKind::Published()) + "</tandroresp>");
  ASSERT_EQ(RunPass(false), ERR_NONE) << m_error;
  EXPECT_EQ(Cache().GetGID(), kAccount);
}

struct RemovalCase {
  const char* name;
  std::string body;
  const char* cacheCategories;
  const char* cacheContacts;
  const char* shadowContacts;
};

void PrintTo(const RemovalCase& c, std::ostream* os) {
  *os << c.name;
}

class SeveralRemovalsTest : public CategoryServerTest,
                            public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(SeveralRemovalsTest, EveryRemovalOfOneAnswerLands) {
  const RemovalCase& param = GetParam();
  Seed();
  ASSERT_EQ(Update(6, param.body), ERR_NONE) << m_error;
  EXPECT_EQ(CategoryNames(Cache()), param.cacheCategories);
  EXPECT_EQ(ContactNames(Cache()), param.cacheContacts);
  EXPECT_EQ(ContactNames(m_shadow), param.shadowContacts);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SeveralRemovalsTest,
    ::testing::Values(RemovalCase{"Contacts",
                                  ContactDeleted(kAdams, 6) + ContactDeleted(kBaker, 6) +
                                      ContactDeleted(kClark, 6),
                                  "Work|Club|News", "Dunn", "Dunn"},
                      // Contacts of a subscribed category go with it; those of a read-only
                      // one are kept in Unfiled.
                      RemovalCase{"Categories",
                                  CategoryDeleted(kClub, 6) + CategoryDeleted(kNews, 6), "Work",
                                  "Adams|Baker|Dunn", "Adams|Baker|Clark|Dunn"}),
    [](const ::testing::TestParamInfo<RemovalCase>& c) { return c.param.name; });

TEST_F(CategoryServerTest, RecordsWithoutCacheCounterpartAreSkipped) {
  Seed();
  // The shadow knows Baker without a cache id, and the cache lost it.
  m_shadow.FindContactByFixedId(kBaker, false).SetCacheId(0);
  CacheContact(kBaker).Remove();
  // Evans is filed in a category nobody holds; Ford comes without a link.
  ASSERT_EQ(Update(6, ContactElement(0x24, 6, "Evans") + LinkElement(0x24, 0x99, 6) +
                          ContactElement(0x25, 6, "Ford")),
            ERR_NONE)
      << m_error;
  EXPECT_EQ(Placement(Cache()), "Adams@Work|Clark@Club|Dunn@News");
  EXPECT_TRUE(Cache().SanityCheck());
}

// ---- Failures ----

struct FailureCase {
  const char* name;
  bool cut;
  br_error result;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class TransportFailureTest : public CategoryServerTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TransportFailureTest, FailedExchangeLeavesTheCacheAlone) {
  const FailureCase& param = GetParam();
  Seed();
  const std::string cacheBytes = StoreCache(m_cache);
  const std::string answer =
      Answer(6, ContactElement(kAdams, 6, "Adams", "Server") + CategoryDeleted(kClub, 6));
  if (param.cut) {
    m_server->Cut(answer);
  } else {
    m_server->Fail(500);
  }
  EXPECT_EQ(RunPass(false), param.result);
  EXPECT_FALSE(m_error.empty());
  EXPECT_EQ(StoreCache(m_cache), cacheBytes);
}

INSTANTIATE_TEST_SUITE_P(Transport, TransportFailureTest,
                         ::testing::Values(FailureCase{"Status500", false, ERR_SERVER_QUERY},
                                           FailureCase{"CutAnswer", true, ERR_CONNECTION}),
                         [](const ::testing::TestParamInfo<FailureCase>& c) {
                           return c.param.name;
                         });

// ---- Progress, time log, logged form ----

std::vector<SyncCallBackProgress>& Stages() {
  static std::vector<SyncCallBackProgress> stages;
  return stages;
}
void RecordStage(SyncCallBackProgress stage) {
  Stages().push_back(stage);
}

// The stage labels of a time log, " begin"/" end" included, one per line.
std::string Labels(const std::string& log) {
  std::string out;
  size_t start = log.find('\n') + 1;  // past the header
  for (size_t end = log.find("\r\n", start); end != std::string::npos;
       start = end + 2, end = log.find("\r\n", start)) {
    std::string line = log.substr(start, end - start);
    size_t text = line.find_first_not_of(" 0123456789.");
    out += line.substr(text) + "\n";
  }
  return out;
}

TEST_F(CategoryServerTest, PassesReportStagesAndTimeTheirSteps) {
  TimeLogger logger([] { return int64_t{0}; });
  Stages().clear();
  m_server->Answer(Answer(1, ""));
  CategoryServerTransformation first = MakeEngine(false);
  first.SetTimeLogger(&logger);
  ASSERT_EQ(first.SyncServer(nullptr, m_dir.path().c_str(), RecordStage, true), ERR_NONE);
  EXPECT_EQ(Stages(),
            (std::vector<SyncCallBackProgress>{grabbingLatestChanges, grabbingLatestChanges,
                                               syncingWithServerData, syncingWithServerData}));
  TakeBack(first);

  Stages().clear();
  CategoryServerTransformation idle = MakeEngine(true);
  idle.SetTimeLogger(&logger);
  ASSERT_EQ(idle.SyncServer(nullptr, m_dir.path().c_str(), RecordStage, true), ERR_NONE);
  EXPECT_EQ(Stages(), std::vector<SyncCallBackProgress>{sendingChangesToServer});
  EXPECT_EQ(Labels(logger.GetLog()),
            "callBack grabbingLatestChanges begin\n"
            "callBack grabbingLatestChanges end\n"
            "callBack grabbingLatestChanges begin\n"
            "callBack grabbingLatestChanges end\n"
            "SyncServer update request[0] begin\n"
            "callBack syncingWithServerData begin\n"
            "callBack syncingWithServerData end\n"
            "SyncServer update request[0] end\n"
            "callBack syncingWithServerData begin\n"
            "callBack syncingWithServerData end\n"
            "shareUpdate begin\n"
            "shareUpdate end\n"
            "callBack sendingChangesToServer begin\n"
            "callBack sendingChangesToServer end\n");
}

TEST_F(CategoryServerTest, LoggedExchangeReplaysWithoutTheServer) {
  Seed();
  SetFirstName(CacheContact(kBaker), "Bob");
  const CategoryCache cacheBefore = m_cache.Clone();
  const CategoryManager shadowBefore = m_shadow.Clone();
  m_server->Answer(Answer(
      6, ContactElement(kBaker, 6, "Baker", "Bob") + ContactElement(kAdams, 6, "Adams", "Al")));
  CategoryServerTransformation sent = MakeEngine(true);
  sent.KeepBefore();
  ASSERT_EQ(sent.SyncServer(nullptr, m_dir.path().c_str(), nullptr, true), ERR_NONE);

  StringSink sink;
  {
    Archive out(sink);
    sent.SerializeQuick(out, Archive::kNoSchema);
  }
  RegisterContactClasses();
  CategoryServerTransformation replay;
  Archive in(sink.contents());
  replay.SerializeQuick(in, Archive::kNoSchema);
  EXPECT_TRUE(replay.IsSecondPass());
  EXPECT_EQ(replay.GetUser(), kUser);
  EXPECT_EQ(replay.GetRequest(), sent.GetRequest());
  EXPECT_EQ(replay.GetResponse(), sent.GetResponse());
  EXPECT_EQ(StoreCache(replay.GetCache()), StoreCache(sent.GetCache()));

  replay.SetCache(cacheBefore);
  replay.SetServerShadow(shadowBefore);
  ASSERT_EQ(replay.SyncServer(nullptr, m_dir.path().c_str(), nullptr, false), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), 2u);
  EXPECT_EQ(replay.GetRequest(), sent.GetRequest());
  EXPECT_EQ(StoreCache(replay.GetCache()), StoreCache(sent.GetCache()));
  EXPECT_EQ(StoreManager(replay.GetServerShadow()), StoreManager(sent.GetServerShadow()));

  TextTree tree;
  sent.DisplayTree(tree, kTreeRoot);
  ASSERT_EQ(tree.GetChildren(kTreeRoot).size(), 1u);
  TreeItem top = tree.GetChildren(kTreeRoot)[0];
  EXPECT_EQ(tree.GetText(top), "Category Server Tranformation");
  std::vector<std::string> labels;
  for (TreeItem item : tree.GetChildren(top)) labels.push_back(tree.GetText(item));
  EXPECT_EQ(labels, (std::vector<std::string>{"cache before", "server before", "server after",
                                              "cache after 0 conflicts ()"}));
}

}  // namespace
}  // namespace brontel
