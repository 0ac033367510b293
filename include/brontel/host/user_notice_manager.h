// UserNotification and UserNoticeManager: outcomes of a synchronization that
// need the user's attention, collected by the engines and shown by the caller.
//
// A notification has a kind, a title and summary that the kind sets, details
// (one per line) and a handled flag. The manager keeps notifications in the
// order they were added, at most one per kind when filled through AddDetail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brontel {

// Kinds of notice. Other numbers are accepted and get a generic summary.
enum UserNotificationType : int32_t {
  NOTICE_NONE = 0,
  NOTICE_CATEGORY_RENAME = 1,
  NOTICE_READ_ONLY_EDIT = 2,
  NOTICE_CATEGORY_CHANGE = 3,
  NOTICE_READ_ONLY_DELETE = 4,
};

class UserNotification {
 public:
  // Kind NOTICE_NONE, all texts empty.
  UserNotification() = default;
  // The given kind with its title and summary.
  explicit UserNotification(UserNotificationType type);
  UserNotification(const UserNotification&) = default;
  UserNotification& operator=(const UserNotification&) = default;
  virtual ~UserNotification() = default;

  // Records the kind and sets the title and summary it names. A kind without a
  // title of its own leaves the title as it was; its summary is
  // "Unexpected error encountered.".
  void SetNoticeType(UserNotificationType type);
  UserNotificationType GetNoticeType() const { return m_type; }

  void SetSummary(const std::string& text) { m_summary = text; }
  void SetTitle(const std::string& text) { m_title = text; }
  const std::string& GetSummary() const { return m_summary; }
  const std::string& GetTitle() const { return m_title; }
  // The details, each followed by "\n".
  const std::string& GetDetails() const { return m_details; }

  // Appends text and "\n" to the details; the notification needs handling again.
  void AddDetail(const std::string& text);
  // Marks the notification handled and empties its details.
  void MarkHandled();
  bool IsHandled() const { return m_handled; }

 private:
  std::string m_details;
  std::string m_summary;
  std::string m_title;
  bool m_handled = false;
  UserNotificationType m_type = NOTICE_NONE;
};

class UserNoticeManager {
 public:
  UserNoticeManager() = default;
  UserNoticeManager(const UserNoticeManager&) = default;
  UserNoticeManager& operator=(const UserNoticeManager&) = default;
  virtual ~UserNoticeManager() = default;

  // Adds text to the first notification of the given kind, appending a new
  // notification of that kind when there is none.
  void AddDetail(UserNotificationType type, const std::string& text);
  // Appends a copy of notification.
  void Append(const UserNotification& notification);

  // REQUIRES: 0 <= index < GetListCount().
  UserNotification& operator[](int32_t index);
  const UserNotification& operator[](int32_t index) const;
  int32_t GetListCount() const { return static_cast<int32_t>(m_notifications.size()); }

  // Removes the handled notifications; the others keep their order.
  void RemoveHandledNotifications();

 private:
  // Makes room for one more: a capacity of 0 becomes 16, then it doubles.
  void Grow();

  std::vector<UserNotification> m_notifications;
};

}  // namespace brontel
