// Tests of UserNotification and UserNoticeManager: the texts each kind sets,
// details and the handled flag, grouping by kind, copies and removal.
#include "brontel/host/user_notice_manager.h"

#include <gtest/gtest.h>

#include <string>

namespace brontel {
namespace {

TEST(UserNotificationTest, EachKindSetsItsTitleAndSummary) {
  struct Case {
    int32_t type;
    const char* title;
    const char* summary;
  };
  const Case cases[] = {
      {1, "Category Rename Notice",
       "Duplicate category names were encountered and have been renamed."},
      {2, "Read Only Edit Notice",
       "Your edits to contacts in read only categories have been placed in the Unfiled "
       "category."},
      {3, "Category Change Notice",
       "Your recategorization of contacts in read only categories have been restored to the "
       "original category."},
      {4, "Read Only Delete Notice",
       "Your deletions of contacts in read only categories have been restored."},
      {5, "", "Unexpected error encountered."},
      {0, "", "Unexpected error encountered."},
      {-1, "", "Unexpected error encountered."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    UserNotification notice(static_cast<UserNotificationType>(c.type));
    EXPECT_EQ(notice.GetNoticeType(), c.type);
    EXPECT_EQ(notice.GetTitle(), c.title);
    EXPECT_EQ(notice.GetSummary(), c.summary);
    EXPECT_EQ(notice.GetDetails(), "");
    EXPECT_FALSE(notice.IsHandled());
  }
}

TEST(UserNotificationTest, ANewNotificationHasNoKindAndNoTexts) {
  UserNotification notice;
  EXPECT_EQ(notice.GetNoticeType(), NOTICE_NONE);
  EXPECT_EQ(notice.GetTitle(), "");
  EXPECT_EQ(notice.GetSummary(), "");
  EXPECT_EQ(notice.GetDetails(), "");
  EXPECT_FALSE(notice.IsHandled());
}

TEST(UserNotificationTest, AnUnknownKindKeepsTheTitleAndReplacesTheSummary) {
  UserNotification notice(NOTICE_READ_ONLY_DELETE);
  notice.SetTitle("Own title");
  notice.SetNoticeType(static_cast<UserNotificationType>(9));
  EXPECT_EQ(notice.GetNoticeType(), 9);
  EXPECT_EQ(notice.GetTitle(), "Own title");
  EXPECT_EQ(notice.GetSummary(), "Unexpected error encountered.");

  notice.SetNoticeType(NOTICE_CATEGORY_RENAME);
  EXPECT_EQ(notice.GetTitle(), "Category Rename Notice");
  notice.SetSummary("Own summary");
  EXPECT_EQ(notice.GetSummary(), "Own summary");
}

TEST(UserNotificationTest, DetailsAccumulateUntilHandled) {
  UserNotification notice(NOTICE_CATEGORY_RENAME);
  notice.AddDetail("Work -> Work 2");
  notice.AddDetail("");
  EXPECT_EQ(notice.GetDetails(), "Work -> Work 2\n\n");

  notice.MarkHandled();
  EXPECT_TRUE(notice.IsHandled());
  EXPECT_EQ(notice.GetDetails(), "");
  EXPECT_EQ(notice.GetTitle(), "Category Rename Notice") << "handling keeps the texts";

  notice.AddDetail("Home -> Home 2");
  EXPECT_FALSE(notice.IsHandled()) << "a new detail needs handling again";
  EXPECT_EQ(notice.GetDetails(), "Home -> Home 2\n");
}

TEST(UserNotificationTest, CopiesCarryEveryField) {
  UserNotification original(NOTICE_READ_ONLY_EDIT);
  original.SetTitle("T");
  original.AddDetail("d");
  original.MarkHandled();
  original.AddDetail("e");
  original.MarkHandled();

  UserNotification copied(original);
  UserNotification assigned(NOTICE_CATEGORY_RENAME);
  assigned.AddDetail("lost");
  assigned = original;
  for (const UserNotification* n : {&copied, &assigned}) {
    EXPECT_EQ(n->GetNoticeType(), NOTICE_READ_ONLY_EDIT);
    EXPECT_EQ(n->GetTitle(), "T");
    EXPECT_EQ(n->GetSummary(), original.GetSummary());
    EXPECT_EQ(n->GetDetails(), "");
    EXPECT_TRUE(n->IsHandled());
  }
}

// Kinds and detail lines of every notification, e.g. "2:a|b;1:c".
std::string Describe(const UserNoticeManager& manager) {
  std::string out;
  for (int32_t i = 0; i < manager.GetListCount(); ++i) {
    if (i > 0) out += ";";
    std::string details = manager[i].GetDetails();
    for (char& ch : details) {
      if (ch == '\n') ch = '|';
    }
    if (!details.empty()) details.pop_back();
    out += std::to_string(manager[i].GetNoticeType()) + ":" + details;
  }
  return out;
}

TEST(UserNoticeManagerTest, DetailsOfOneKindGoToOneNotification) {
  UserNoticeManager manager;
  EXPECT_EQ(manager.GetListCount(), 0);
  manager.AddDetail(NOTICE_READ_ONLY_EDIT, "Alice");
  manager.AddDetail(NOTICE_READ_ONLY_EDIT, "Bob");
  manager.AddDetail(NOTICE_READ_ONLY_EDIT, "Carol");
  ASSERT_EQ(manager.GetListCount(), 1);
  EXPECT_EQ(manager[0].GetDetails(), "Alice\nBob\nCarol\n");
  EXPECT_EQ(manager[0].GetTitle(), "Read Only Edit Notice");

  manager.AddDetail(NOTICE_CATEGORY_RENAME, "Work");
  manager.AddDetail(NOTICE_READ_ONLY_EDIT, "Dave");
  manager.AddDetail(static_cast<UserNotificationType>(5), "odd");
  EXPECT_EQ(Describe(manager), "2:Alice|Bob|Carol|Dave;1:Work;5:odd");
}

TEST(UserNoticeManagerTest, AppendStoresACopyAndAddDetailUsesTheFirstOfAKind) {
  UserNoticeManager manager;
  UserNotification notice(NOTICE_CATEGORY_CHANGE);
  notice.AddDetail("first");
  manager.Append(notice);
  manager.Append(notice);
  notice.AddDetail("not in the manager");

  manager.AddDetail(NOTICE_CATEGORY_CHANGE, "more");
  EXPECT_EQ(Describe(manager), "3:first|more;3:first");
}

TEST(UserNoticeManagerTest, RemovingHandledNotificationsKeepsTheOrderOfTheOthers) {
  UserNoticeManager manager;
  for (int32_t type = 1; type <= 40; ++type) {
    manager.AddDetail(static_cast<UserNotificationType>(type), std::to_string(type));
  }
  ASSERT_EQ(manager.GetListCount(), 40) << "grows past its first capacities";
  for (int32_t i = 0; i < manager.GetListCount(); ++i) {
    if (manager[i].GetNoticeType() % 3 != 0) manager[i].MarkHandled();
  }
  manager.RemoveHandledNotifications();
  std::string expected;
  for (int32_t type = 3; type <= 40; type += 3) {
    expected += (expected.empty() ? "" : ";") + std::to_string(type) + ":" + std::to_string(type);
  }
  EXPECT_EQ(Describe(manager), expected);
}

TEST(UserNoticeManagerTest, AfterRemovingEverythingANewDetailStartsAFreshNotification) {
  UserNoticeManager manager;
  manager.AddDetail(NOTICE_READ_ONLY_DELETE, "x");
  manager.AddDetail(NOTICE_CATEGORY_RENAME, "y");
  for (int32_t i = 0; i < manager.GetListCount(); ++i) manager[i].MarkHandled();
  manager.RemoveHandledNotifications();
  EXPECT_EQ(manager.GetListCount(), 0);

  manager.AddDetail(NOTICE_READ_ONLY_DELETE, "z");
  ASSERT_EQ(manager.GetListCount(), 1);
  EXPECT_EQ(manager[0].GetDetails(), "z\n");
  EXPECT_FALSE(manager[0].IsHandled());
}

TEST(UserNoticeManagerTest, AHandledNotificationStillCollectsDetailsOfItsKind) {
  UserNoticeManager manager;
  manager.AddDetail(NOTICE_CATEGORY_RENAME, "a");
  manager[0].MarkHandled();
  manager.AddDetail(NOTICE_CATEGORY_RENAME, "b");
  manager.RemoveHandledNotifications();
  EXPECT_EQ(Describe(manager), "1:b") << "the new detail made it unhandled again";
}

TEST(UserNoticeManagerTest, CopiesAreIndependent) {
  UserNoticeManager manager;
  manager.AddDetail(NOTICE_CATEGORY_RENAME, "a");
  UserNoticeManager copy(manager);
  copy.AddDetail(NOTICE_CATEGORY_RENAME, "b");
  copy.AddDetail(NOTICE_READ_ONLY_EDIT, "c");
  EXPECT_EQ(Describe(manager), "1:a");
  EXPECT_EQ(Describe(copy), "1:a|b;2:c");
}

#ifndef NDEBUG
TEST(UserNoticeManagerDeathTest, IndexOutsideTheListIsAPreconditionViolation) {
  UserNoticeManager manager;
  manager.AddDetail(NOTICE_CATEGORY_RENAME, "a");
  EXPECT_DEATH((void)manager[1], "index < m_size");
  EXPECT_DEATH((void)manager[-1], "index >= 0");
}
#endif

}  // namespace
}  // namespace brontel
