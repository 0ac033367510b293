// Tests of the stored form of category managers and caches: round trips of
// rich data, the parents of contacts and of their conflict copies at every
// depth, versions before the read-only conflict flag, and damaged input, which
// must end in an ArchiveError without crash or leak (or, for a parent position
// that names no category, in an unfiled contact).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_classes.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/archive.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::ContactNames;
using testing::ReadCache;
using testing::ReadManager;
using testing::StoreCache;
using testing::StoreManager;

class ContactStoredFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterContactClasses(); }
};

// Every record has a fixed id, so that Verify can pair them.
CategoryManager RichManager() {
  CategoryManager manager;
  manager.SetVersion(0x21);
  manager.SetDeltaVersion(2);
  Category unfiled = manager.CreateNewCategory(testing::MakeCategoryDescriptor("Unfiled"), true);
  unfiled.SetFixedId(0x50);
  Category work = AddCategory(manager, "Work", CategoryKind::Published(), 0x51, 0xA1);
  Category club = AddCategory(manager, "Club", CategoryKind::SubscribedReadOnly(), 0x52, 0xA2);
  club.SetConflict(AddCategory(manager, "Club*1", CategoryKind::SubscribedReadOnly(), 0x5F));
  club.GetConflict().SetConflict(work);
  manager.FindByFixedId(0x5F, false).Remove();
  Category home = AddCategory(manager, "Home", CategoryKind::Local(), 0x53, 0xA3);
  home.SetDeleted();

  Contact a = AddContact(manager, work, "Adams", 0x61, 0xB1);
  a.SetLinkVersion(0x17);
  a.GetContactDescriptor().SetDatum(0, std::string(300, 'x'));
  a.GetContactDescriptor().SetDatum(1, std::string(70000, 'y'));
  Contact b = AddContact(manager, club, "Brown", 0x62, 0xB2);
  b.SetConflict(a);
  b.SetReadOnlyConflict(true);
  Contact c = AddContact(manager, home, "Clark", 0x63, 0xB3);
  c.SetLinkConflict(b);
  c.SetConflict(b);
  Contact d = AddContact(manager, Category(), "Davis", 0x64, 0xB4);
  d.SetLinkConflict(c);
  d.SetDirtyFixedId();
  return manager;
}

void ExpectSameData(const CategoryManager& read, const CategoryManager& written) {
  CategoryManager left = read.Clone();
  CategoryManager right = written.Clone();
  EXPECT_TRUE(left.Verify(right));
}

TEST_F(ContactStoredFormTest, AManagerReadsBackToTheSameDataAndBytes) {
  CategoryManager manager = RichManager();
  const std::string bytes = StoreManager(manager);
  CategoryManager read = ReadManager(bytes);
  ExpectSameData(read, manager);
  EXPECT_TRUE(read.SanityCheck());
  EXPECT_TRUE(read.IsCoherent());
  EXPECT_EQ(read.GetVersion(), 0x21u);
  EXPECT_EQ(read.GetDeltaVersion(), 2u);
  EXPECT_EQ(StoreManager(read), bytes);

  Contact b = read.FindContactByFixedId(0x62, false);
  Contact c = read.FindContactByFixedId(0x63, false);
  Contact d = read.FindContactByFixedId(0x64, false);
  EXPECT_TRUE(b.GetReadOnlyConflict());
  EXPECT_EQ(b.GetConflict().GetContactDescriptor().GetDatum(1).size(), 70000u);
  EXPECT_TRUE(c.GetLinkConflict().GetCategory().EqualEqual(read.FindByFixedId(0x52, false)));
  EXPECT_TRUE(d.HasDirtyFixedId());
  EXPECT_EQ(read.FindContactByFixedId(0x61, false).GetLinkVersion(), 0x17u);
  Category club = read.FindByFixedId(0x52, false);
  ASSERT_TRUE(club.IsConflicted());
  EXPECT_EQ(club.GetConflict().GetConflict().GetCategoryDescriptor().GetCategoryName(), "Work");
  EXPECT_TRUE(read.FindByFixedId(0x53, false).IsDeleted());
}

TEST_F(ContactStoredFormTest, ACacheReadsBackWithItsSequence) {
  CategoryCache cache;
  cache.SetRandomCacheIndex();
  CategoryManager rich = RichManager();
  cache.GetCategoryManager().GetCategoryList() =
      rich.GetCategoryList().Clone(cache.GetCategoryManager());
  CategoryCache read = ReadCache(StoreCache(cache));
  EXPECT_EQ(read.GetSequence(), cache.GetSequence());
  ExpectSameData(read.GetCategoryManager(), cache.GetCategoryManager());
  EXPECT_TRUE(read.SanityCheck());
}

TEST_F(ContactStoredFormTest, ReadingReplacesTheHandlesHolder) {
  CategoryManager manager = RichManager();
  CategoryManager target;
  CategoryManager alias = target;
  const std::string bytes = StoreManager(manager);
  {
    Archive reader(bytes);
    target.Serialize(reader);
  }
  EXPECT_FALSE(target.EqualEqual(alias));
  EXPECT_EQ(target.GetReferenceCount(), 1u);
  EXPECT_EQ(alias.GetContactList().GetListCount(), 0);
}

// The parents of conflict copies are the manager's categories at any depth.
TEST_F(ContactStoredFormTest, ConflictCopiesAtEveryDepthGetTheManagersCategories) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51);
  Category home = AddCategory(manager, "Home", {}, 0x52);
  Contact m = AddContact(manager, home, "M", 0x61);
  Contact moved = AddContact(manager, work, "Moved", 0x62);
  m.SetLinkConflict(moved);  // a copy of m in "Work"
  Contact c = AddContact(manager, Category(), "C", 0x63);
  c.SetConflict(m);  // c -> copy of m -> its link conflict in "Work"
  Contact top = AddContact(manager, home, "Top", 0x64);
  top.SetConflict(c);  // top -> copy of c -> copy of m -> link conflict
  top.SetLinkConflict(moved);

  CategoryManager read = ReadManager(StoreManager(manager));
  Category readWork = read.FindByFixedId(0x51, false);
  Contact readTop = read.FindContactByFixedId(0x64, false);
  Contact deep = readTop.GetConflict().GetConflict().GetLinkConflict();
  ASSERT_FALSE(deep.IsNull());
  EXPECT_TRUE(deep.GetCategory().EqualEqual(readWork));
  EXPECT_TRUE(readTop.GetLinkConflict().GetCategory().EqualEqual(readWork));
  EXPECT_TRUE(read.FindContactByFixedId(0x63, false)
                  .GetConflict()
                  .GetLinkConflict()
                  .GetCategory()
                  .EqualEqual(readWork));
}

// A parent outside the list being written is stored by the fixed id of a
// category of that list, or as unfiled; never by a position it had elsewhere.
TEST_F(ContactStoredFormTest, ParentsOutsideTheListAreStoredByFixedIdOrAsUnfiled) {
  CategoryManager other;
  Category otherFirst = AddCategory(other, "Elsewhere", {}, 0x99);
  Category otherSame = AddCategory(other, "Home elsewhere", {}, 0x52);
  StoreManager(other);  // numbers other's categories 0 and 1

  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51);
  Category home = AddCategory(manager, "Home", {}, 0x52);
  Category removed = AddCategory(manager, "Removed", {}, 0x57);
  StoreManager(manager);  // numbers the categories 0, 1 and 2
  AddCategory(manager, "Late", {}, 0x58);
  removed.Remove();  // keeps 2, now the position of "Late"

  Contact stale = AddContact(manager, work, "Stale", 0x61);
  stale.SetCategory(removed);
  Contact foreign = AddContact(manager, work, "Foreign", 0x62);
  foreign.SetCategory(otherFirst);  // position 0 in other
  Contact sameId = AddContact(manager, work, "SameId", 0x63);
  sameId.SetCategory(otherSame);
  Contact withCopies = AddContact(manager, work, "Copies", 0x64);
  Contact carrier = Contact::CreateEmpty();
  carrier.SetCategory(otherFirst);
  withCopies.SetLinkConflict(carrier);
  Contact sameCarrier = Contact::CreateEmpty();
  sameCarrier.SetCategory(otherSame);
  Contact sameLink = AddContact(manager, work, "SameLink", 0x65);
  sameLink.SetLinkConflict(sameCarrier);

  CategoryManager read = ReadManager(StoreManager(manager));
  EXPECT_TRUE(read.FindContactByFixedId(0x61, false).IsUnfiled());
  EXPECT_TRUE(read.FindContactByFixedId(0x62, false).IsUnfiled());
  EXPECT_TRUE(read.FindContactByFixedId(0x63, false)
                  .GetCategory()
                  .EqualEqual(read.FindByFixedId(0x52, false)));
  EXPECT_TRUE(read.FindContactByFixedId(0x64, false).GetLinkConflict().IsUnfiled());
  EXPECT_TRUE(read.FindContactByFixedId(0x65, false)
                  .GetLinkConflict()
                  .GetCategory()
                  .EqualEqual(read.FindByFixedId(0x52, false)));
  EXPECT_FALSE(home.IsNull());
}

// Offset of the parent position of the contact whose link version is
// 0x5A5A5A5A: the four bytes before it.
size_t ParentPositionAt(const std::string& bytes) {
  size_t at = bytes.find(std::string("\x5A\x5A\x5A\x5A", 4));
  EXPECT_NE(at, std::string::npos);
  return at - 4;
}

void PutInt(std::string& bytes, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

TEST_F(ContactStoredFormTest, AStoredPositionThatNamesNoCategoryMakesTheContactUnfiled) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51);
  AddCategory(manager, "Home", {}, 0x52);
  Contact c = AddContact(manager, work, "Smith", 0x61);
  c.SetLinkVersion(0x5A5A5A5A);
  const std::string bytes = StoreManager(manager);
  const size_t at = ParentPositionAt(bytes);
  for (int32_t position : {2, 3, 0x7FFFFFFF, -2, -0x7FFFFFFF}) {
    std::string damaged = bytes;
    PutInt(damaged, at, position);
    CategoryManager read = ReadManager(damaged);
    Contact smith = read.FindContactByFixedId(0x61, false);
    EXPECT_TRUE(smith.IsUnfiled()) << position;
    EXPECT_TRUE(smith.GetCategory().IsNull()) << position;
    EXPECT_TRUE(read.SanityCheck());
  }
  std::string moved = bytes;
  PutInt(moved, at, 1);
  CategoryManager read = ReadManager(moved);
  EXPECT_TRUE(
      read.FindContactByFixedId(0x61, false).GetCategory().EqualEqual(read.GetCategoryList()[1]));
}

// Offset of the conflict slot of the contact copy whose last name is name.
size_t ConflictSlotOf(const std::string& bytes, const std::string& name) {
  size_t at = bytes.find(std::string(1, static_cast<char>(name.size())) + name);
  EXPECT_NE(at, std::string::npos);
  // flags, private flag, offset, options; identification; status.
  return at + 1 + name.size() + 10 + 24 + 8;
}

TEST_F(ContactStoredFormTest, ConflictCopiesThatComeBackToThemselvesAreCut) {
  CategoryManager manager;
  Contact c = AddContact(manager, Category(), "Owner", 0x61);
  Contact rival = Contact::CreateEmpty();
  rival.GetContactDescriptor().SetDatum(18, "Rival");
  rival.SetLinkConflict(Contact::CreateEmpty());
  rival.GetLinkConflict().GetContactDescriptor().SetDatum(18, "Second");
  c.SetConflict(rival);
  const std::string bytes = StoreManager(manager);
  // Objects: the manager's class 1 and object 2, "ContactHolder" 3, the rival
  // copy 4 and its link-conflict copy 5.
  {
    std::string self = bytes;
    const size_t slot = ConflictSlotOf(self, "Rival");
    self[slot] = 0x04;  // the rival's conflict is the rival itself
    CategoryManager read = ReadManager(self);
    Contact readRival = read.GetContactList()[0].GetConflict();
    EXPECT_FALSE(readRival.IsConflicted());
    EXPECT_TRUE(readRival.IsLinkConflicted());
  }
  {
    std::string loop = bytes;
    const size_t slot = ConflictSlotOf(loop, "Second");
    loop[slot] = 0x04;  // the link-conflict copy's conflict is the rival
    CategoryManager read = ReadManager(loop);
    Contact readRival = read.GetContactList()[0].GetConflict();
    ASSERT_TRUE(readRival.IsLinkConflicted());
    EXPECT_FALSE(readRival.GetLinkConflict().IsConflicted());
  }
}

TEST_F(ContactStoredFormTest, CategoryConflictChainsThatComeBackAreCut) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Category rival = Category::CreateEmpty();
  rival.GetCategoryDescriptor().SetCategoryName("Rival");
  work.SetConflict(rival);
  std::string bytes = StoreManager(manager);
  // The rival's conflict slot follows its name, description, colour, flags,
  // identification and status; it becomes a reference to the rival (object 4).
  size_t at = bytes.find(std::string("\x05Rival", 6));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 6 + 1 + 4 + 3 + 24 + 8] = 0x04;
  CategoryManager read = ReadManager(bytes);
  ASSERT_TRUE(read.GetCategoryList()[0].IsConflicted());
  EXPECT_FALSE(read.GetCategoryList()[0].GetConflict().IsConflicted());
}

// A hand-made manager record of one unfiled contact with the given schema:
// before version 10 the read-only conflict flag is not stored.
std::string OneContactManager(uint16_t schema, bool withFlag) {
  std::string b;
  auto bytes = [&](std::initializer_list<int> list) {
    for (int v : list) b.push_back(static_cast<char>(v));
  };
  bytes({0xFF, 0xFF, schema & 0xFF, schema >> 8, 0x15, 0x00});
  b += "CategoryManagerHolder";
  bytes({0, 0, 0, 0, 1, 0, 0, 0});
  b.append(19, '\0');                       // datums
  bytes({0, 0, 0, 0, '-', 0, 0, 0, 0, 0});  // flags, private, offset, options
  bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0});  // no flags
  bytes({0xFF, 0xFF, 0xFF, 0xFF, '-', '-', '-', 0x02});
  bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0});
  if (withFlag) bytes({'+'});
  bytes({7, 0, 0, 0});
  b.append(16, '\0');
  bytes({0, 0, 0, 0});
  return b;
}

TEST_F(ContactStoredFormTest, TheReadOnlyConflictFlagIsReadFromVersion10On) {
  for (auto [schema, withFlag] : {std::pair{9, false}, std::pair{10, true}}) {
    const std::string bytes = OneContactManager(static_cast<uint16_t>(schema), withFlag);
    CategoryManager manager;
    Archive ar(bytes);
    manager.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u) << schema;
    Contact c = manager.GetContactList()[0];
    EXPECT_EQ(c.GetReadOnlyConflict(), withFlag) << schema;
    EXPECT_EQ(c.GetFixedId(), 3u);
    EXPECT_EQ(c.GetRecordIdentification().GetCreateVersion(), 5u);
    EXPECT_EQ(c.GetSource(), SOURCE_HANDHELD);
    EXPECT_EQ(c.GetLinkVersion(), 9u);
    EXPECT_EQ(manager.GetVersion(), 7u);
  }
}

struct DamageCase {
  const char* label;
  std::function<std::string(std::string)> damage;  // of a stored small manager
  ArchiveStatus status;
};

// A small manager whose category "Work" and contact "Smith" have no conflict.
std::string SmallManagerBytes() {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51);
  AddContact(manager, work, "Smith", 0x61);
  return StoreManager(manager);
}

std::string Replace(std::string bytes, const std::string& from, const std::string& to) {
  size_t at = bytes.find(from);
  if (at != std::string::npos) bytes.replace(at, from.size(), to);
  return bytes;
}

// The conflict slot of category "Work": after its name, empty description,
// colour, three flags, identification and status.
size_t WorkConflictAt(const std::string& bytes) {
  return bytes.find(std::string("\x04Work", 5)) + 5 + 1 + 4 + 3 + 24 + 8;
}

TEST_F(ContactStoredFormTest, DamagedInputEndsInAnArchiveError) {
  const DamageCase cases[] = {
      {"unknown class",
       [](std::string b) { return Replace(b, "CategoryManagerHolder", "CategoryManagerHoldeR"); },
       ArchiveStatus::kUnknownClass},
      {"category count beyond the data",
       [](std::string b) {
         PutInt(b, 6 + 21, 0x7FFFFFFF);
         return b;
       },
       ArchiveStatus::kBadCount},
      {"negative category count",
       [](std::string b) {
         PutInt(b, 6 + 21, -1);
         return b;
       },
       ArchiveStatus::kBadCount},
      {"contact count beyond the data",
       [](std::string b) {
         size_t at = WorkConflictAt(b) + 2;
         PutInt(b, at, 1000);
         return b;
       },
       ArchiveStatus::kBadCount},
      {"name longer than the data",
       [](std::string b) {
         return Replace(b, std::string("\x04Work", 5), std::string("\xC8Work", 5));
       },
       ArchiveStatus::kBadLength},
      {"conflict naming an object not read",
       [](std::string b) {
         b[WorkConflictAt(b)] = 0x50;
         return b;
       },
       ArchiveStatus::kBadReference},
      {"conflict naming the manager",
       [](std::string b) {
         b[WorkConflictAt(b)] = 0x02;
         return b;
       },
       ArchiveStatus::kWrongClass},
      {"trailing record cut short",
       [](std::string b) {
         b.resize(b.size() - 1);
         return b;
       },
       ArchiveStatus::kEndOfData},
  };
  const std::string bytes = SmallManagerBytes();
  for (const DamageCase& c : cases) {
    const std::string damaged = c.damage(bytes);
    ASSERT_NE(damaged, bytes) << c.label;
    try {
      ReadManager(damaged);
      ADD_FAILURE() << c.label << ": read without error";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.status(), c.status) << c.label << ": " << e.what();
    }
  }
}

TEST_F(ContactStoredFormTest, EveryTruncationOfAFileFailsCleanly) {
  CategoryCache cache;
  CategoryManager rich = RichManager();
  // A small cache keeps the loop short; the rich manager's stored form is
  // cut at a coarser step.
  Category work = AddCategory(cache.GetCategoryManager(), "Work", {}, 0x51);
  Contact c = AddContact(cache.GetCategoryManager(), work, "Smith", 0x61);
  c.SetConflict(AddContact(cache.GetCategoryManager(), work, "Smyth"));
  c.SetLinkConflict(c.GetConflict());
  const std::string small = StoreCache(cache);
  for (size_t n = 0; n < small.size(); ++n) {
    EXPECT_THROW(ReadCache(small.substr(0, n)), ArchiveError) << n;
  }
  const std::string big = StoreManager(rich);
  for (size_t n = 0; n < big.size(); n += 97) {
    EXPECT_THROW(ReadManager(big.substr(0, n)), ArchiveError) << n;
  }
}

TEST_F(ContactStoredFormTest, ACacheWithoutManagerIsRefused) {
  std::string b("\xFF\xFF\x0F\x00\x13\x00", 6);
  b += "CategoryCacheHolder";
  b += std::string("\x01\x00\x00\x00\x00\x00", 6);
  try {
    ReadCache(b);
    ADD_FAILURE() << "read without error";
  } catch (const ArchiveError& e) {
    EXPECT_EQ(e.status(), ArchiveStatus::kBadValue);
  }
}

TEST_F(ContactStoredFormTest, LogNodesCarryACopyThroughALogFile) {
  CategoryManager manager = RichManager();
  std::unique_ptr<LogNode> node = manager.GetLogItem("cache after");
  StringSink sink;
  {
    Archive ar(sink);
    ar.WriteObject(node.get());
  }
  const std::string bytes = sink.contents();
  Archive ar(bytes);
  Serializable* read = ar.ReadObject();
  ASSERT_NE(read, nullptr);
  auto* typed = dynamic_cast<LogNodeOf<CategoryManager>*>(read);
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->GetName(), "cache after");
  EXPECT_EQ(ContactNames(typed->item()), ContactNames(manager));
  ExpectSameData(typed->item(), manager);
  read->ReleaseReference();
}

TEST_F(ContactStoredFormTest, NullRecordsInALogAreStoredAsEmptyOnes) {
  StringSink sink;
  {
    // The archive knows written objects by address: both stay alive until it
    // is done, so that the second cannot take the first one's address.
    std::unique_ptr<LogNode> category = Category().GetLogItem("no category");
    std::unique_ptr<LogNode> contact = Contact().GetLogItem("no contact");
    Archive ar(sink);
    ar.WriteObject(category.get());
    ar.WriteObject(contact.get());
  }
  const std::string bytes = sink.contents();
  Archive ar(bytes);
  for (const char* name : {"no category", "no contact"}) {
    Serializable* read = ar.ReadObject();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(static_cast<LogNode*>(read)->GetName(), name);
    read->ReleaseReference();
  }
  EXPECT_EQ(ar.Remaining(), 0u);
}

}  // namespace
}  // namespace brontel
