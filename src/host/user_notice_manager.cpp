#include "brontel/host/user_notice_manager.h"

#include <algorithm>

#include "brontel/platform/precondition.h"

namespace brontel {
namespace {

struct NoticeTexts {
  UserNotificationType type;
  const char* title;
  const char* summary;
};

constexpr NoticeTexts kNoticeTexts[] = {
    {NOTICE_CATEGORY_RENAME, "Category Rename Notice",
     "Duplicate category names were encountered and have been renamed."},
    {NOTICE_READ_ONLY_EDIT, "Read Only Edit Notice",
     "Your edits to contacts in read only categories"
     " have been placed in the Unfiled category."},
    {NOTICE_CATEGORY_CHANGE, "Category Change Notice",
     "Your recategorization of contacts in read only categories"
     " have been restored to the original category."},
    {NOTICE_READ_ONLY_DELETE, "Read Only Delete Notice",
     "Your deletions of contacts in read only categories"
     " have been restored."},
};

}  // namespace

UserNotification::UserNotification(UserNotificationType type) {
  SetNoticeType(type);
}

void UserNotification::SetNoticeType(UserNotificationType type) {
  m_type = type;
  for (const NoticeTexts& texts : kNoticeTexts) {
    if (texts.type == type) {
      m_title = texts.title;
      m_summary = texts.summary;
      return;
    }
  }
  m_summary = "Unexpected error encountered.";
}

void UserNotification::AddDetail(const std::string& text) {
  m_details += text;
  m_details += '\n';
  m_handled = false;
}

void UserNotification::MarkHandled() {
  m_handled = true;
  m_details.clear();
}

void UserNoticeManager::AddDetail(UserNotificationType type, const std::string& text) {
  for (UserNotification& notification : m_notifications) {
    if (notification.GetNoticeType() == type) {
      notification.AddDetail(text);
      return;
    }
  }
  UserNotification fresh(type);
  fresh.AddDetail(text);
  Append(fresh);
}

void UserNoticeManager::Append(const UserNotification& notification) {
  Grow();
  m_notifications.push_back(notification);
}

UserNotification& UserNoticeManager::operator[](int32_t index) {
  BRONTEL_REQUIRE(index >= 0, "index >= 0");
  BRONTEL_REQUIRE(index < GetListCount(), "index < m_size");
  return m_notifications[static_cast<size_t>(index)];
}

const UserNotification& UserNoticeManager::operator[](int32_t index) const {
  BRONTEL_REQUIRE(index >= 0, "index >= 0");
  BRONTEL_REQUIRE(index < GetListCount(), "index < m_size");
  return m_notifications[static_cast<size_t>(index)];
}

void UserNoticeManager::RemoveHandledNotifications() {
  m_notifications.erase(std::remove_if(m_notifications.begin(), m_notifications.end(),
                                       [](const UserNotification& n) { return n.IsHandled(); }),
                        m_notifications.end());
}

void UserNoticeManager::Grow() {
  if (m_notifications.size() < m_notifications.capacity()) return;
  m_notifications.reserve(m_notifications.capacity() == 0 ? 16 : m_notifications.capacity() * 2);
}

}  // namespace brontel
