// Tests of Contact: construction and the category link, copies and clones,
// data and link conflicts, removal, and the display strings.
#include "brontel/contacts/contact.h"

#include <gtest/gtest.h>

#include <string>

#include "brontel/contacts/category_manager.h"
#include "brontel/core/versioning.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::ContactNames;

TEST(ContactTest, ANullContactIsDeleted) {
  Contact none;
  EXPECT_TRUE(none.IsNull());
  EXPECT_TRUE(none.IsDeleted());
  EXPECT_FALSE(none.IsDeletedGlobal());
  EXPECT_FALSE(none.IsHeld());
  EXPECT_FALSE(none.IsConflicted());
  EXPECT_FALSE(none.IsLinkConflicted());
  EXPECT_TRUE(Contact::CreateNull().IsNull());
}

TEST(ContactTest, AContactWithoutParentIsUnfiled) {
  CategoryManager manager;
  Contact contact = manager.CreateNewContact();
  EXPECT_TRUE(contact.IsHeld());
  EXPECT_TRUE(contact.GetCategory().IsNull());
  EXPECT_TRUE(contact.IsUnfiled());
  EXPECT_FALSE(contact.IsReadOnly());
  EXPECT_TRUE(contact.IsChildOfCategory(Category()));
  EXPECT_TRUE(contact.IsChildOfCategory(manager.CreateNewCategory(true)));
  EXPECT_FALSE(contact.IsChildOfCategory(AddCategory(manager, "Work")));
}

TEST(ContactTest, AFiledContactIsTheChildOfExactlyItsCategory) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", CategoryKind::SubscribedReadOnly());
  Category twin = AddCategory(manager, "Work", CategoryKind::SubscribedReadOnly());
  Contact contact = AddContact(manager, work, "Smith");
  EXPECT_FALSE(contact.IsUnfiled());
  EXPECT_TRUE(contact.IsReadOnly());
  EXPECT_TRUE(contact.IsChildOfCategory(work));
  EXPECT_FALSE(contact.IsChildOfCategory(twin)) << "the same holder, not equal data";
  EXPECT_FALSE(contact.IsChildOfCategory(Category()));
  // A contact in the unfiled category is unfiled.
  contact.SetCategory(manager.CreateNewCategory(true));
  EXPECT_TRUE(contact.IsUnfiled());
  EXPECT_TRUE(contact.IsChildOfCategory(Category()));
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(ContactDeathTest, AParentFromAnotherManagerIsRefused) {
  CategoryManager manager;
  CategoryManager other;
  Category foreign = AddCategory(other, "Work");
  EXPECT_DEATH(manager.CreateNewContact(foreign),
               "newValue.IsNull\\(\\) \\|\\| m_holder->m_manager.EqualEqual");
}
#endif

TEST(ContactTest, SetCategoryDoesNotCheckTheManager) {
  CategoryManager manager;
  CategoryManager other;
  Contact contact = manager.CreateNewContact();
  Category foreign = AddCategory(other, "Work");
  contact.SetCategory(foreign);
  EXPECT_TRUE(contact.GetCategory().EqualEqual(foreign));
}

TEST(ContactTest, CreateCloneContactMakesAContactOfTheCategorysManager) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  ContactDescriptor d = testing::MakeContactDescriptor("Smith", "Ann");
  Contact contact = Contact::CreateCloneContact(d, work);
  EXPECT_TRUE(manager.HasContact(contact));
  EXPECT_TRUE(contact.GetCategory().EqualEqual(work));
  EXPECT_TRUE(contact.GetContactDescriptor().Equal(d));
  EXPECT_FALSE(contact.GetContactDescriptor().EqualEqual(d));
}

TEST(ContactTest, VersionsComeFromTheRecordAndItsManager) {
  CategoryManager manager;
  Contact contact = manager.CreateNewContact();
  contact.SetVersion(4);
  contact.SetLinkVersion(6);
  EXPECT_EQ(contact.GetLowerVersion(), 4u);
  EXPECT_EQ(contact.GetLinkVersion(), 6u);
  EXPECT_EQ(contact.GetUpperVersion(), Versioning::InValidVersion());
  manager.SetVersion(12);
  EXPECT_EQ(contact.GetUpperVersion(), 12u);
}

TEST(ContactTest, FixedIdDirtyFlagAndClean) {
  Contact contact = Contact::CreateEmpty();
  EXPECT_FALSE(contact.HasDirtyFixedId());
  contact.SetDirtyFixedId();
  EXPECT_TRUE(contact.HasDirtyFixedId());
  contact.SetDirty();
  contact.SetClean();
  EXPECT_FALSE(contact.IsDirty());
  EXPECT_TRUE(contact.HasDirtyFixedId());
  contact.SetCleanFixedId();
  EXPECT_FALSE(contact.HasDirtyFixedId());
}

TEST(ContactTest, MatchingUsesTheFixedIdOnly) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 0, 7);
  Contact b = AddContact(manager, Category(), "B", 0, 7);
  a.SetLocalId(3);
  b.SetLocalId(3);
  EXPECT_FALSE(a.IsMatching(b)) << "cache and local ids do not match contacts";
  a.SetFixedId(9);
  b.SetFixedId(9);
  EXPECT_TRUE(a.IsMatching(b));
  EXPECT_FALSE(a.IsMatching(Contact()));
}

TEST(ContactTest, MergeIdentityGivesBothAllThreeIds) {
  CategoryManager left;
  CategoryManager right;
  Contact a = AddContact(left, Category(), "A", 0, 5);
  Contact b = AddContact(right, Category(), "B", 0x99, 9);
  b.SetLocalId(0x10);
  a.MergeIdentity(b);
  EXPECT_EQ(a.GetCacheId(), 9u);
  EXPECT_EQ(a.GetLocalId(), 0x10u);
  EXPECT_EQ(a.GetFixedId(), 0x99u);
  EXPECT_TRUE(left.FindContactByFixedId(0x99, false).EqualEqual(a));
  EXPECT_TRUE(left.FindContactByCacheId(9, false).EqualEqual(a));
}

TEST(ContactTest, CopyLeavesEachContactInItsOwnCategory) {
  CategoryManager manager;
  Category home = AddCategory(manager, "Home");
  Category work = AddCategory(manager, "Work");
  Contact source = AddContact(manager, home, "Smith", 0x21);
  source.SetLinkVersion(7);
  source.SetReadOnlyConflict(true);
  source.SetConflict(AddContact(manager, home, "Rival"));
  source.SetLinkConflict(AddContact(manager, work, "Linked"));
  Contact target = AddContact(manager, work, "Jones");
  target.SetTouched(true);
  target.Copy(source);
  EXPECT_EQ(ContactNames(manager), "Smith|Rival|Linked|Smith");
  EXPECT_TRUE(target.GetCategory().EqualEqual(work));
  EXPECT_EQ(target.GetLinkVersion(), 0u);
  EXPECT_TRUE(target.IsTouched());
  EXPECT_TRUE(target.GetReadOnlyConflict());
  EXPECT_EQ(target.GetFixedId(), 0x21u);
  EXPECT_TRUE(target.GetConflict().EqualEqual(source.GetConflict()));
  EXPECT_TRUE(target.GetLinkConflict().EqualEqual(source.GetLinkConflict()));
}

TEST(ContactTest, CloneCarriesTheLinkVersionButLeavesTheParentToTheManager) {
  CategoryManager left;
  CategoryManager right;
  Contact source = AddContact(left, AddCategory(left, "Home"), "Smith", 0x21);
  source.SetLinkVersion(7);
  source.SetReadOnlyConflict(true);
  Contact clone = source.Clone(right);
  EXPECT_TRUE(clone.GetManager().EqualEqual(right));
  EXPECT_TRUE(clone.Equal(source));
  EXPECT_EQ(clone.GetLinkVersion(), 7u);
  EXPECT_TRUE(clone.GetReadOnlyConflict());
  EXPECT_TRUE(clone.GetCategory().IsNull());
}

TEST(ContactTest, DataConflictAcceptTakesTheRivalDataUnderOwnIdentity) {
  CategoryManager manager;
  Category home = AddCategory(manager, "Home");
  Contact mine = AddContact(manager, home, "Mine", 0x21, 0x11);
  Contact rival = AddContact(manager, Category(), "Rival", 0x22, 0x12);
  mine.SetConflict(rival);
  EXPECT_TRUE(mine.IsConflicted());
  mine.AcceptConflict();
  EXPECT_FALSE(mine.IsConflicted());
  EXPECT_EQ(mine.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName), "Rival");
  EXPECT_EQ(mine.GetFixedId(), 0x21u);
  EXPECT_TRUE(mine.GetCategory().EqualEqual(home)) << "data conflicts leave the link alone";
  mine.SetConflict(rival);
  mine.RejectConflict();
  EXPECT_FALSE(mine.IsConflicted());
}

TEST(ContactTest, LinkConflictCarriesTheOtherParentUntilAcceptedOrRejected) {
  CategoryManager manager;
  Category home = AddCategory(manager, "Home");
  Category work = AddCategory(manager, "Work");
  Contact mine = AddContact(manager, home, "Smith");
  mine.SetLinkVersion(3);
  Contact other = AddContact(manager, work, "Other");
  other.SetLinkVersion(8);
  mine.SetLinkConflict(other);
  ASSERT_TRUE(mine.IsLinkConflicted());
  Contact copy = mine.GetLinkConflict();
  EXPECT_EQ(copy.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName), "Smith");
  EXPECT_TRUE(copy.GetCategory().EqualEqual(work));
  EXPECT_EQ(copy.GetLinkVersion(), 8u);
  EXPECT_TRUE(mine.GetCategory().EqualEqual(home));

  mine.AcceptLinkConflict();
  EXPECT_FALSE(mine.IsLinkConflicted());
  EXPECT_TRUE(mine.GetCategory().EqualEqual(work));
  EXPECT_EQ(mine.GetLinkVersion(), 8u);

  mine.SetLinkConflict(AddContact(manager, home, "x"));
  mine.RejectLinkConflict();
  EXPECT_FALSE(mine.IsLinkConflicted());
  EXPECT_TRUE(mine.GetCategory().EqualEqual(work));
}

TEST(ContactTest, AcceptingAParentOfAnotherCopyTakesThisCopysCategoryWithItsFixedId) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  Category mineWork = AddCategory(mineManager, "Work", {}, 0x51);
  Contact mine = AddContact(mineManager, Category(), "Smith");
  Contact other = AddContact(otherManager, AddCategory(otherManager, "Work", {}, 0x51), "Smith");
  mine.SetLinkConflict(other);
  mine.AcceptLinkConflict();
  EXPECT_TRUE(mine.GetCategory().EqualEqual(mineWork));
  EXPECT_TRUE(mineManager.SanityCheck());
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(ContactDeathTest, AcceptingWithoutALinkConflictIsRefused) {
  Contact c = Contact::CreateEmpty();
  EXPECT_DEATH(c.AcceptLinkConflict(), "!m_holder->m_linkConflict.IsNull\\(\\)");
  EXPECT_DEATH(c.AcceptConflict(), "!m_holder->m_conflict.IsNull\\(\\)");
}
#endif

TEST(ContactTest, RemoveTakesTheContactOutOfItsManager) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A");
  AddContact(manager, Category(), "B");
  EXPECT_TRUE(a.Remove());
  EXPECT_EQ(ContactNames(manager), "B");
  EXPECT_FALSE(a.Remove());
  EXPECT_TRUE(Contact::CreateEmpty().Remove()) << "a contact without manager";
}

struct ShortNameCase {
  const char* last;
  const char* first;
  const char* company;
  const char* expected;
};

class ContactShortNameTest : public ::testing::TestWithParam<ShortNameCase> {};

TEST_P(ContactShortNameTest, PicksTheNamesThatAreThere) {
  Contact c = Contact::CreateEmpty();
  ContactDescriptor d = c.GetContactDescriptor();
  d.SetDatum(18, GetParam().last);
  d.SetDatum(17, GetParam().first);
  d.SetDatum(16, GetParam().company);
  EXPECT_EQ(c.GetShortDisplayString(), GetParam().expected);
  EXPECT_EQ(c.GetUserDisplayString(), std::string("Contact:  ") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, ContactShortNameTest,
                         ::testing::Values(ShortNameCase{"Smith", "Ann", "Acme", "Smith, Ann"},
                                           ShortNameCase{"Smith", "", "Acme", "Smith"},
                                           ShortNameCase{"", "Ann", "Acme", "Acme, Ann"},
                                           ShortNameCase{"", "Ann", "", "Ann"},
                                           ShortNameCase{"", "", "Acme", "Acme"},
                                           ShortNameCase{"", "", "", "-Unnamed-"}));

TEST(ContactTest, AnUnnamedContactShowsItsOtherDatumsFromTheHighest) {
  Contact c = Contact::CreateEmpty();
  c.GetContactDescriptor().SetDatum(3, "three");
  c.GetContactDescriptor().SetDatum(0, "zero");
  c.GetContactDescriptor().SetDatum(15, "phone");
  EXPECT_EQ(c.GetShortDisplayString(), "-Unnamed-, phone, three, zero");
}

TEST(ContactTest, DisplayStringAndTree) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Contact c = AddContact(manager, work, "Smith");
  c.GetContactDescriptor().SetDatum(17, "Ann");
  c.GetContactDescriptor().SetOptions(0x10);
  c.SetLinkVersion(0x2A);
  EXPECT_EQ(c.GetDisplayString(),
            "Contact:  <C=0000-L=0000-F=0000/V=ffffffff:ffffffff f=0> #0000 ????  Smith, Ann ");
  c.SetReadOnlyConflict(true);
  c.SetConflict(AddContact(manager, Category(), "Rival"));
  c.SetLinkConflict(AddContact(manager, Category(), "Moved"));
  EXPECT_EQ(c.GetDisplayString(),
            "Contact:  <C=0000-L=0000-F=0000/V=ffffffff:ffffffff f=0> #0000 ????  Smith, Ann "
            "**CONFLICT**  Read Only Conflict");
  TextTree tree;
  c.DisplayTree(tree, kTreeRoot);
  const std::string text = tree.Render();
  EXPECT_EQ(text.rfind("opt=10 flags=0 linkv=2a Contact:  ", 0), 0u) << text;
  EXPECT_NE(text.find("Parent Category\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Parent Category:  "), std::string::npos) << text;
  EXPECT_NE(text.find("Conflicts with Contact:"), std::string::npos) << text;
  EXPECT_NE(text.find("Link Conflicts with Contact:"), std::string::npos) << text;
  EXPECT_NE(text.find("Parent is Unfiled"), std::string::npos) << "the link conflict's parent";
}

// Conflict copies shared along two paths at every level: the display shows
// each copy once instead of once per path.
TEST(ContactTest, DisplayTreeExpandsASharedConflictCopyOnce) {
  Contact top = Contact::CreateEmpty();
  for (int level = 0; level < 30; ++level) {
    Contact next = Contact::CreateEmpty();
    next.SetConflict(top);
    next.SetLinkConflict(Contact::CreateEmpty());
    top = next;
  }
  TextTree tree;
  top.DisplayTree(tree, kTreeRoot);
  EXPECT_LT(tree.ItemCount(), 1000u);
}

}  // namespace
}  // namespace brontel
