// Tests of what `brontel show` prints for the contact files: the cache with its
// sequence, the shadows as bare managers, every contact under the category it
// was stored with, and damaged files that are reported rather than shown.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brontel/api/brontel_api.h"
#include "brontel/api/category_api.h"
#include "brontel/api/stored_file_view.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/tree_view.h"
#include "support/api_fixture.h"
#include "support/contact_fixture.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;

// The first item whose text contains part, or 0.
TreeItem FindItem(const TextTree& tree, const std::string& part) {
  for (TreeItem item = 1; item <= tree.ItemCount(); ++item) {
    if (tree.GetText(item).find(part) != std::string::npos) return item;
  }
  return 0;
}

// The text under the "Parent Category" item of the contact item.
std::string ParentText(const TextTree& tree, TreeItem contact) {
  for (TreeItem child : tree.GetChildren(contact)) {
    if (tree.GetText(child) != "Parent Category") continue;
    if (tree.GetChildren(child).size() != 1) return "<malformed>";
    return tree.GetText(tree.GetChildren(child)[0]);
  }
  return "<none>";
}

class ContactFileViewTest : public testing::ApiTest {
 protected:
  // Adds to manager an owned Family, a subscribed Family*1, a contact in each
  // (the second with a conflict) and an unfiled one.
  static CategoryManager FillSample(CategoryManager manager) {
    Category family = AddCategory(manager, "Family", CategoryKind::Local(), 0x10, 0x40000001);
    Category shared =
        AddCategory(manager, "Family*1", CategoryKind::SubscribedReadWrite(), 0x11, 0x40000002);
    AddContact(manager, family, "Smith", 0x20, 0x40000003);
    AddContact(manager, Category(), "Jones", 0x21, 0x40000004);
    Contact brown = AddContact(manager, shared, "Brown", 0x22, 0x40000005);
    Contact other = Contact::CreateEmpty();
    other.GetContactDescriptor().SetDatum(ContactDescriptor::kLastName, "Browne");
    brown.SetConflict(other);
    return manager;
  }

  TextTree Show(const std::string& name, const std::string& bytes) {
    testing::WriteFileBytes(Path(name), bytes);
    TextTree tree;
    ReadResult result = DisplayStoredFile(Path(name), tree);
    EXPECT_TRUE(result.ok()) << result.message;
    return tree;
  }
};

TEST_F(ContactFileViewTest, CacheAndShadowShowEveryContactUnderItsStoredCategory) {
  CategoryCache cache;
  for (int i = 1; i < 0x2A; ++i) cache.Increment();
  FillSample(cache.GetCategoryManager());

  struct Case {
    const char* file;
    std::string bytes;
    // The root line, and whether the manager sits under it or is the root.
    const char* root;
    bool managerUnderRoot;
  };
  const Case kCases[] = {
      {CategoryApi::kCacheFile, testing::StoreCache(cache), "Category Cache 2a", true},
      {CategoryApi::kHandheldShadowFile, testing::StoreManager(FillSample(CategoryManager())),
       "CategoryManager ", false},
      {CategoryApi::kServerShadowFile, testing::StoreManager(FillSample(CategoryManager())),
       "CategoryManager ", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    TextTree tree = Show(c.file, c.bytes);
    ASSERT_EQ(tree.GetChildren(kTreeRoot).size(), 1u) << tree.Render();
    TreeItem root = tree.GetChildren(kTreeRoot)[0];
    EXPECT_EQ(tree.GetText(root).rfind(c.root, 0), 0u) << tree.GetText(root);
    TreeItem manager = root;
    if (c.managerUnderRoot) {
      ASSERT_EQ(tree.GetChildren(root).size(), 1u) << tree.Render();
      manager = tree.GetChildren(root)[0];
    }
    EXPECT_NE(tree.GetText(manager).find("#categories = 2 #contacts = 3"), std::string::npos)
        << tree.GetText(manager);

    // Each contact is shown under the category it was stored with: the
    // positions in the file are turned back into the categories read.
    TreeItem smith = FindItem(tree, "Smith");
    TreeItem jones = FindItem(tree, "Jones");
    TreeItem brownItem = FindItem(tree, "Brown,");
    ASSERT_NE(smith, 0u) << tree.Render();
    ASSERT_NE(jones, 0u) << tree.Render();
    ASSERT_NE(brownItem, 0u) << tree.Render();
    EXPECT_NE(ParentText(tree, smith).find("\"Family\" "), std::string::npos)
        << ParentText(tree, smith);
    EXPECT_NE(ParentText(tree, brownItem).find("\"Family*1\" "), std::string::npos)
        << ParentText(tree, brownItem);
    EXPECT_EQ(ParentText(tree, jones), "Parent is Unfiled");
    TreeItem conflict = FindItem(tree, "Conflicts with");
    ASSERT_NE(conflict, 0u) << tree.Render();
    EXPECT_EQ(tree.GetParent(conflict), brownItem);
    EXPECT_NE(tree.GetText(conflict).find("Browne"), std::string::npos) << tree.GetText(conflict);
    // The records read die with the view; nothing points at them.
    for (TreeItem item = 1; item <= tree.ItemCount(); ++item) {
      EXPECT_EQ(tree.GetData(item), nullptr) << tree.GetText(item);
    }
  }
}

TEST_F(ContactFileViewTest, DamagedContactFilesAreReportedNeverShown) {
  CategoryCache cache;
  FillSample(cache.GetCategoryManager());
  const std::string cacheBytes = testing::StoreCache(cache);
  const std::string shadowBytes = testing::StoreManager(FillSample(CategoryManager()));
  // Every cut short file fails with the place where reading stopped, and shows
  // nothing.
  for (const std::string& bytes : {cacheBytes, shadowBytes}) {
    for (size_t n = 0; n < bytes.size(); ++n) {
      SCOPED_TRACE(::testing::Message() << "first " << n << " of " << bytes.size() << " bytes");
      testing::WriteFileBytes(Path("cut.pft"), bytes.substr(0, n));
      TextTree tree;
      ReadResult result = DisplayStoredFile(Path("cut.pft"), tree);
      EXPECT_FALSE(result.ok());
      EXPECT_LE(result.offset, n);
      EXPECT_NE(result.message.find("cut.pft"), std::string::npos) << result.message;
      EXPECT_EQ(tree.ItemCount(), 0u);
    }
  }
  // A changed byte anywhere in the cache (which holds a whole manager) either
  // reads as some other valid file or is reported; it never takes the viewer
  // out of bounds.
  for (size_t at = 0; at < cacheBytes.size(); ++at) {
    for (uint8_t flip : {0x80, 0xFF}) {
      std::string damaged = cacheBytes;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      testing::WriteFileBytes(Path("flipped.pft"), damaged);
      TextTree tree;
      ReadResult result = DisplayStoredFile(Path("flipped.pft"), tree);
      if (!result.ok()) {
        EXPECT_EQ(tree.ItemCount(), 0u) << "byte " << at << " ^ " << int{flip};
      }
    }
  }
}

// The files a handheld synchronization really writes are shown the same way.
TEST_F(ContactFileViewTest, FilesWrittenByAHandheldSyncShowTheirContacts) {
  CategoryApi api = BrontelAPI::CreateCategoryApi(m_dir.path(), "test");
  CategoryManager handheld = api.GetCategoryManager();
  Category work = AddCategory(handheld, "Work");
  work.SetLocalId(7);
  Contact smith = AddContact(handheld, work, "Smith");
  smith.SetLocalId(8);
  ASSERT_EQ(api.SyncHandheld(), ERR_NONE) << api.GetErrorMessage();

  for (const char* file : {CategoryApi::kCacheFile, CategoryApi::kHandheldShadowFile}) {
    SCOPED_TRACE(file);
    TextTree tree;
    ReadResult result = DisplayStoredFile(Path(file), tree);
    ASSERT_TRUE(result.ok()) << result.message;
    TreeItem contact = FindItem(tree, "Smith");
    ASSERT_NE(contact, 0u) << tree.Render();
    EXPECT_NE(ParentText(tree, contact).find("\"Work\" "), std::string::npos)
        << ParentText(tree, contact);
  }
}

}  // namespace
}  // namespace brontel
