// Golden bytes of the contact files: an empty cache, and a manager with
// conflicted categories (one of them the unfiled category), two contacts
// sharing one conflict copy, a link-conflict copy naming its category by
// position, an unfiled contact and a 255-byte text, as the shadow file and
// inside a cache file. Every expected byte is written out here field by field
// from the stored-form rules; nothing below asks the code under test for
// bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_classes.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/uid128.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

// Bytes written out by hand: numbers byte by byte in file order, names as
// their characters.
class Golden {
 public:
  Golden& operator()(std::initializer_list<int> bytes) {
    for (int b : bytes) m_bytes.push_back(static_cast<char>(b));
    return *this;
  }
  Golden& Text(const std::string& characters) {
    m_bytes += characters;
    return *this;
  }
  Golden& Repeat(int byte, size_t count) {
    m_bytes.append(count, static_cast<char>(byte));
    return *this;
  }
  const std::string& str() const { return m_bytes; }

 private:
  std::string m_bytes;
};

// Hex of bytes, 16 to a line, so that a mismatch shows where.
std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
    text += (i % 16 == 15) ? '\n' : ' ';
  }
  return text;
}

class ContactGoldenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterContactClasses(); }
};

TEST_F(ContactGoldenTest, EmptyCacheFile) {
  Golden g;
  // The cache's object record: new class, schema 15, name of 19 characters;
  // sequence 1.
  g({0xFF, 0xFF, 0x0F, 0x00, 0x13, 0x00}).Text("CategoryCacheHolder");
  g({0x01, 0x00, 0x00, 0x00});
  // The manager's object record: new class, schema 15, name of 21 characters.
  g({0xFF, 0xFF, 0x0F, 0x00, 0x15, 0x00}).Text("CategoryManagerHolder");
  // No categories, no contacts.
  g({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  // Table identification: invalid version, zero id, delta version 0.
  g({0xFF, 0xFF, 0xFF, 0xFF}).Repeat(0x00, 16)({0x00, 0x00, 0x00, 0x00});

  EXPECT_EQ(Hex(testing::StoreCache(CategoryCache())), Hex(g.str()));
  CategoryCache read = testing::ReadCache(g.str());
  EXPECT_EQ(read.GetSequence(), 1u);
  EXPECT_EQ(read.GetCategoryManager().GetCategoryList().GetListCount(), 0);
}

void SetIds(const RecordIdentification& id, uint32_t cache, uint32_t local, uint32_t fixed,
            uint32_t version, uint32_t createVersion) {
  RecordIdentification target = id;
  target.SetCacheId(cache);
  target.SetLocalId(local);
  target.SetFixedId(fixed);
  target.SetVersion(version);
  target.SetCreateVersion(createVersion);
}

// Builds the small manager into manager (a fresh one, or a cache's). Ids are
// set before any look-up, so that they need not go through the setters.
// - category "Work": colour 0x112233, description "d", published; ids 0x11,
//   0x12, 0x13, version 4, create version 3; hash 0x01020304, dirty, from the
//   desktop; in conflict with a subscribed read-only "Work" described
//   "theirs" (ids 0x21, 0x22, 0x13, version 5, create version 5; from the
//   server);
// - category "Home": ids 0x14, 0, 0x15, version 2, create version 2;
// - the unfiled category "Unfiled", in conflict with a default category;
// - contact "Adams" in "Work": ids 0x31, 0x32, 0x33, version 6, create
//   version 6, link version 7; in conflict with a copy of "Adamson";
// - contact "Brown" in "Home", sharing that conflict copy; ids 0x41, 0x42,
//   0x43, version 6, create version 6; its link conflicts with a move to
//   "Work" at link version 0x0A;
// - contact "Clark", unfiled, with a 255-byte note (datum 0), flags
//   0x12345, private, offset 0x21, options 0xABCDEF and a read-only conflict.
void BuildSmallManager(CategoryManager manager) {
  UID128 gid;
  for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(0xB0 + i));
  manager.SetGID(gid);
  manager.SetVersion(9);
  manager.SetDeltaVersion(3);

  Category work = manager.CreateNewCategory(false);
  CategoryDescriptor w = work.GetCategoryDescriptor();
  w.SetCategoryName("Work");
  w.SetColor(0x112233);
  w.SetDescription("d");
  w.SetSharedFlag(true);
  SetIds(work.GetRecordIdentification(), 0x11, 0x12, 0x13, 4, 3);
  RecordStatus ws = work.GetRecordStatus();
  ws.SetDataHash(0x01020304);
  ws.SetDirtyFlag(true);
  ws.SetSource(SOURCE_DESKTOP);
  Category theirs = Category::CreateEmpty();
  CategoryDescriptor t = theirs.GetCategoryDescriptor();
  t.SetCategoryName("Work");
  t.SetDescription("theirs");
  t.SetOwnedFlag(false);
  t.SetReadOnlyFlag(true);
  t.SetSharedFlag(true);
  SetIds(theirs.GetRecordIdentification(), 0x21, 0x22, 0x13, 5, 5);
  theirs.SetSource(SOURCE_SERVER);
  work.SetConflict(theirs);

  Category home = manager.CreateNewCategory(false);
  home.GetCategoryDescriptor().SetCategoryName("Home");
  SetIds(home.GetRecordIdentification(), 0x14, 0, 0x15, 2, 2);

  Category unfiled = manager.CreateNewCategory(true);
  unfiled.GetCategoryDescriptor().SetCategoryName("Unfiled");
  unfiled.SetConflict(Category::CreateEmpty());

  Contact adams = manager.CreateNewContact(work);
  adams.GetContactDescriptor().SetDatum(18, "Adams");
  SetIds(adams.GetRecordIdentification(), 0x31, 0x32, 0x33, 6, 6);
  adams.SetLinkVersion(7);
  Contact adamson = Contact::CreateEmpty();
  adamson.GetContactDescriptor().SetDatum(18, "Adamson");
  adams.SetConflict(adamson);

  Contact brown = manager.CreateNewContact(home);
  brown.Copy(adams);  // shares the conflict copy
  brown.GetContactDescriptor().SetDatum(18, "Brown");
  SetIds(brown.GetRecordIdentification(), 0x41, 0x42, 0x43, 6, 6);
  Contact moved = Contact::CreateEmpty();
  moved.SetCategory(work);
  moved.SetLinkVersion(0x0A);
  brown.SetLinkConflict(moved);

  Contact clark = manager.CreateNewContact();
  ContactDescriptor c = clark.GetContactDescriptor();
  c.SetDatum(18, "Clark");
  c.SetDatum(0, std::string(255, 'n'));
  c.SetFlags(0x12345);
  c.SetIsPrivate(true);
  c.SetOffset(0x21);
  c.SetOptions(0xABCDEF);
  clark.SetReadOnlyConflict(true);
}

// An empty identification (ids 0, versions invalid, flags 0) and status.
void EmptyIds(Golden& g) {
  g.Repeat(0x00, 12).Repeat(0xFF, 8).Repeat(0x00, 4);
}
void EmptyStatus(Golden& g) {
  g({0xFF, 0xFF, 0xFF, 0xFF, '-', '-', '-', 0x00});
}
// The 19 datums of a contact with only a last name, then flags 0, not
// private, offset 0, options 0.
void NamedContactDescriptor(Golden& g, const std::string& last) {
  g.Repeat(0x00, 18)({static_cast<int>(last.size())}).Text(last);
  g({0x00, 0x00, 0x00, 0x00, '-', 0x00, 0x00, 0x00, 0x00, 0x00});
}

// The manager's body. In a cache file the cache's class and object come first,
// so every index in the body is shift higher (2) than in a shadow file (0).
std::string SmallManagerBody(int shift) {
  const int categoryClass = 3 + shift;
  const int sharedCopy = 7 + shift;
  const int contactClass = 6 + shift;
  Golden g;
  // Categories: count 3.
  g({0x03, 0x00, 0x00, 0x00});
  //   "Work": not unfiled; "Work", "d", colour 0x00112233, owned, not
  //   read-only, shared.
  g({'-', 0x04}).Text("Work")({0x01, 'd', 0x33, 0x22, 0x11, 0x00, '+', '-', '+'});
  //   Identification 0x11, 0x12, 0x13, version 4, create version 3, flags 0.
  g({0x11, 0, 0, 0, 0x12, 0, 0, 0, 0x13, 0, 0, 0, 0x04, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0});
  //   Status: NOT 0x01020304, not deleted, dirty, from the desktop.
  g({0xFB, 0xFC, 0xFD, 0xFE, '-', '-', '+', 0x01});
  //   Conflict: the first "CategoryHolder" (class 3, object 4, after the
  //   manager's class and object).
  g({0xFF, 0xFF, 0x0F, 0x00, 0x0E, 0x00}).Text("CategoryHolder");
  //     Not unfiled; "Work", "theirs", colour 0, not owned, read-only, shared.
  g({'-', 0x04}).Text("Work")({0x06}).Text("theirs")({0, 0, 0, 0, '-', '+', '+'});
  //     Identification 0x21, 0x22, 0x13, version 5, create version 5.
  g({0x21, 0, 0, 0, 0x22, 0, 0, 0, 0x13, 0, 0, 0, 0x05, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0});
  //     Status: NOT 0, from the server; no conflict.
  g({0xFF, 0xFF, 0xFF, 0xFF, '-', '-', '-', 0x03, 0x00, 0x00});
  //   "Home": not unfiled; "Home", "", colour 0, owned, not read-only, not
  //   shared; ids 0x14, 0, 0x15, version 2, create version 2; empty status; no
  //   conflict.
  g({'-', 0x04}).Text("Home")({0x00, 0, 0, 0, 0, '+', '-', '-'});
  g({0x14, 0, 0, 0, 0, 0, 0, 0, 0x15, 0, 0, 0, 0x02, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0});
  EmptyStatus(g);
  g({0x00, 0x00});
  //   "Unfiled": unfiled; "Unfiled", "", colour 0, owned.
  g({'+', 0x07}).Text("Unfiled")({0x00, 0, 0, 0, 0, '+', '-', '-'});
  EmptyIds(g);
  EmptyStatus(g);
  //   Conflict: a second "CategoryHolder", named by its class index 3
  //   (object 5): a default category.
  g({categoryClass, 0x80, '-', 0x00, 0x00, 0, 0, 0, 0, '+', '-', '-'});
  EmptyIds(g);
  EmptyStatus(g);
  g({0x00, 0x00});

  // Contacts: count 3.
  g({0x03, 0x00, 0x00, 0x00});
  //   "Adams": identification 0x31, 0x32, 0x33, version 6, create version 6;
  //   empty status.
  NamedContactDescriptor(g, "Adams");
  g({0x31, 0, 0, 0, 0x32, 0, 0, 0, 0x33, 0, 0, 0, 0x06, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0});
  EmptyStatus(g);
  //   Conflict: the first "ContactHolder" (class 6, object 7), "Adamson":
  //   empty ids and status, no conflicts, unfiled, link version 0, no
  //   read-only conflict.
  g({0xFF, 0xFF, 0x0F, 0x00, 0x0D, 0x00}).Text("ContactHolder");
  NamedContactDescriptor(g, "Adamson");
  EmptyIds(g);
  EmptyStatus(g);
  g({0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, '-'});
  //   No link conflict; parent: category 0; link version 7; no read-only
  //   conflict.
  g({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, '-'});
  //   "Brown": identification 0x41, 0x42, 0x43, version 6, create version 6.
  NamedContactDescriptor(g, "Brown");
  g({0x41, 0, 0, 0, 0x42, 0, 0, 0, 0x43, 0, 0, 0, 0x06, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0});
  EmptyStatus(g);
  //   Conflict: the copy already written, object 7.
  g({sharedCopy, 0x00});
  //   Link conflict: a "ContactHolder" by class index 6 (object 8): Brown as
  //   it was, sharing conflict 7, no link conflict, parent category 0, link
  //   version 0x0A.
  g({contactClass, 0x80});
  NamedContactDescriptor(g, "Brown");
  g({0x41, 0, 0, 0, 0x42, 0, 0, 0, 0x43, 0, 0, 0, 0x06, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0});
  EmptyStatus(g);
  g({sharedCopy, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0x0A, 0, 0, 0, '-'});
  //   Parent: category 1; link version 0; no read-only conflict.
  g({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, '-'});
  //   "Clark": datum 0 is 255 bytes, so its length takes FF FF 00; datums 1
  //   to 17 empty; "Clark"; flags 0x12345, private, offset 0x21, options
  //   0xABCDEF.
  g({0xFF, 0xFF, 0x00}).Repeat('n', 255).Repeat(0x00, 17)({0x05}).Text("Clark");
  g({0x45, 0x23, 0x01, 0x00, '+', 0x21, 0xEF, 0xCD, 0xAB, 0x00});
  EmptyIds(g);
  EmptyStatus(g);
  //   No conflicts; unfiled (-1); link version 0; read-only conflict.
  g({0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, '+'});

  // Table identification: version 9, id B0..BF, delta version 3.
  g({0x09, 0, 0, 0});
  g({0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE,
     0xBF});
  g({0x03, 0, 0, 0});
  return g.str();
}

std::string SmallShadowFile() {
  Golden g;
  g({0xFF, 0xFF, 0x0F, 0x00, 0x15, 0x00}).Text("CategoryManagerHolder");
  return g.Text(SmallManagerBody(0)).str();
}

// The cache file with sequence 0x1234: the cache's object record, whose body
// is the sequence and the manager's object record.
std::string SmallCacheFile() {
  Golden g;
  g({0xFF, 0xFF, 0x0F, 0x00, 0x13, 0x00}).Text("CategoryCacheHolder");
  g({0x34, 0x12, 0x00, 0x00});
  g({0xFF, 0xFF, 0x0F, 0x00, 0x15, 0x00}).Text("CategoryManagerHolder");
  return g.Text(SmallManagerBody(2)).str();
}

TEST_F(ContactGoldenTest, ShadowFileOfTheSmallManager) {
  CategoryManager manager;
  BuildSmallManager(manager);
  EXPECT_EQ(Hex(testing::StoreManager(manager)), Hex(SmallShadowFile()));
}

TEST_F(ContactGoldenTest, TheGoldenShadowFileReadsBackToTheSameRecords) {
  CategoryManager read = testing::ReadManager(SmallShadowFile());
  CategoryManager built;
  BuildSmallManager(built);
  CategoryManager left = read.Clone();
  CategoryManager right = built.Clone();
  // Verify pairs records by fixed id: give the two records without one theirs.
  for (CategoryManager m : {left, right}) {
    m.GetCategoryList()[2].SetFixedId(0x16);
    m.GetContactList()[2].SetFixedId(0x53);
  }
  EXPECT_TRUE(left.Verify(right));

  EXPECT_EQ(read.GetVersion(), 9u);
  EXPECT_EQ(read.GetDeltaVersion(), 3u);
  const ContactList& contacts = read.GetContactList();
  ASSERT_EQ(contacts.GetListCount(), 3);
  const Contact& adams = contacts[0];
  const Contact& brown = contacts[1];
  const Contact& clark = contacts[2];
  EXPECT_TRUE(adams.GetConflict().EqualEqual(brown.GetConflict())) << "one shared copy";
  EXPECT_TRUE(adams.GetCategory().EqualEqual(read.GetCategoryList()[0]));
  EXPECT_TRUE(brown.GetCategory().EqualEqual(read.GetCategoryList()[1]));
  ASSERT_TRUE(brown.IsLinkConflicted());
  EXPECT_TRUE(brown.GetLinkConflict().GetCategory().EqualEqual(read.GetCategoryList()[0]));
  EXPECT_EQ(brown.GetLinkConflict().GetLinkVersion(), 0x0Au);
  EXPECT_TRUE(brown.GetLinkConflict().GetConflict().EqualEqual(adams.GetConflict()));
  EXPECT_TRUE(clark.GetCategory().IsNull());
  EXPECT_EQ(clark.GetContactDescriptor().GetDatum(0), std::string(255, 'n'));
  EXPECT_TRUE(clark.GetReadOnlyConflict());
  EXPECT_EQ(read.GetCategoryList()[0].GetConflict().GetCategoryDescriptor().GetDescription(),
            "theirs");
  EXPECT_TRUE(read.GetCategoryList()[2].IsUnfiled());
  EXPECT_TRUE(read.SanityCheck());

  // What was read writes back to the same bytes.
  EXPECT_EQ(Hex(testing::StoreManager(read)), Hex(SmallShadowFile()));
}

TEST_F(ContactGoldenTest, CacheFileOfTheSmallManager) {
  CategoryCache cache;
  while (cache.GetSequence() < 0x1234) cache.Increment();
  BuildSmallManager(cache.GetCategoryManager());
  EXPECT_EQ(Hex(testing::StoreCache(cache)), Hex(SmallCacheFile()));
  CategoryCache read = testing::ReadCache(SmallCacheFile());
  EXPECT_EQ(read.GetSequence(), 0x1234u);
  EXPECT_EQ(Hex(testing::StoreCache(read)), Hex(SmallCacheFile()));
}

}  // namespace
}  // namespace brontel
