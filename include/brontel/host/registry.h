// CRegistry: the named settings of the library and of the desktop programs that
// share it, each one value under a fixed key in the per-user or the machine-wide
// root of the settings store, with a default when it is absent.
//
// Reads go to the store every time and never fail: a missing file, key or value,
// a value of the wrong type and a text longer than 255 bytes read as the
// default, and failed writes are silent. CVersion is one entry of the table of
// installed component versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brontel {

// The user's answers to two questions the desktop programs ask. The programs
// give the numbers their meaning; the library knows only these two.
using QuestionStatus = int32_t;
using AnswerStatus = int32_t;

class CVersion {
 public:
  CVersion(std::string name, std::string value);
  virtual ~CVersion() = default;

  const std::string& GetName() const { return m_name; }
  const std::string& GetValue() const { return m_value; }
  // "%s:     %s" with the name and the value.
  std::string GetDisplayText() const;

 private:
  std::string m_name;
  std::string m_value;
};

class CRegistry {
 public:
  enum class Root { kCurrentUser, kLocalMachine };

  // Root sections in the store and the keys below them.
  static constexpr const char* m_currentUserRoot = "HKEY_CURRENT_USER";
  static constexpr const char* m_localMachineRoot = "HKEY_LOCAL_MACHINE";
  static constexpr const char* m_tandroKey = "SOFTWARE\\Orvelle\\Tandro";
  static constexpr const char* m_authorWebContentKey = "SOFTWARE\\Orvelle\\Tandro\\WebContent";
  static constexpr const char* m_versionKey = "SOFTWARE\\Orvelle\\Tandro\\Versions";
  static constexpr const char* m_viewerKey = "Software\\Orvelle\\Tandro\\Tandro Desktop Viewer";
  static constexpr const char* m_calendarBarKey =
      "Software\\Orvelle\\Tandro\\Tandro Desktop Viewer\\DesktopViewerBarState-Bar2";
  static constexpr const char* m_coreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
  static constexpr const char* m_preferencesKey =
      "Software\\U.S. Robotics\\Pilot Desktop\\Preferences";

  // The status getters' results for a value that is not stored, and for one
  // that is stored but cannot be read as a number.
  static constexpr int32_t kStatusNotStored = 2;
  static constexpr int32_t kStatusUnreadable = -1;

  // Longest text a read returns; longer texts read as the default.
  static constexpr size_t kMaxTextLength = 255;

  // The store in RegistryDirectory(), looked up at every access.
  CRegistry();
  // The store in directory (user.reg and machine.reg), for tests and hosts
  // that keep settings elsewhere.
  explicit CRegistry(std::string directory);
  virtual ~CRegistry() = default;
  CRegistry(const CRegistry&) = default;
  CRegistry& operator=(const CRegistry&) = default;

  // Machine-wide, under m_tandroKey.
  std::string GetServerSyncUrl() const;
  void SetServerSyncUrl(const std::string& url);
  std::string GetServerSyncName() const;
  void SetServerSyncName(const std::string& name);
  std::string GetServerNewsUrl() const;
  void SetServerNewsUrl(const std::string& url);
  std::string GetServerCommunityUrl() const;
  void SetServerCommunityUrl(const std::string& url);
  std::string GetInstallPathname() const;
  void SetInstallPathname(const std::string& path);
  // kStatusNotStored when absent, kStatusUnreadable when stored as another type.
  QuestionStatus GetServerSyncQuestionStatus() const;
  void SetServerSyncQuestionStatus(QuestionStatus status);
  AnswerStatus GetConduitAnswerStatus() const;
  void SetConduitAnswerStatus(AnswerStatus status);
  int32_t GetSyncLogging() const;
  void SetSyncLogging(int32_t value);
  int32_t GetEchoLogging() const;
  void SetEchoLogging(int32_t value);
  int32_t GetTimeLogging() const;
  void SetTimeLogging(int32_t value);
  int32_t GetSyncPalmAB() const;
  void SetSyncPalmAB(int32_t value);
  int32_t GetSyncPalmDB() const;
  void SetSyncPalmDB(int32_t value);
  int32_t GetSyncMarkAB() const;
  void SetSyncMarkAB(int32_t value);
  int32_t GetSyncMarkDB() const;
  void SetSyncMarkDB(int32_t value);
  // Seconds the HTTP client waits for a connection ("ConnectTimeout", default
  // 30) and for the next byte of an exchange ("StallTimeout", default 120). A
  // stored number below 1 reads as the default, so no exchange waits forever.
  int32_t GetConnectTimeoutSeconds() const;
  void SetConnectTimeoutSeconds(int32_t seconds);
  int32_t GetStallTimeoutSeconds() const;
  void SetStallTimeoutSeconds(int32_t seconds);

  // Per user.
  int32_t GetNewsTimeout() const;
  void SetNewsTimeout(int32_t value);
  int32_t GetFirstDayOfWeek() const;
  void SetFirstDayOfWeek(int32_t value);
  int32_t GetWorkStartTime() const;
  void SetWorkStartTime(int32_t value);
  int32_t GetWorkStopTime() const;
  void SetWorkStopTime(int32_t value);
  int32_t IsDurationPreferred() const;
  void SetIsDurationPreferred(int32_t value);
  void SetCalendarBarIsVisible(bool visible);
  // The handheld's desktop software: its installation path and last user.
  std::string GetDesktopPathname() const;
  std::string GetLastUserName() const;
  void SetLastUserName(const std::string& name);

  // Any value under m_tandroKey in the machine-wide root. The Global and Local
  // families address the same place.
  int32_t GetGlobalIntValue(const std::string& name, int32_t defaultValue) const;
  std::string GetGlobalStringValue(const std::string& name, const std::string& defaultValue) const;
  void SetGlobalValue(const std::string& name, int32_t value);
  void SetGlobalValue(const std::string& name, const std::string& value);
  int32_t GetLocalIntValue(const std::string& name, int32_t defaultValue) const;
  std::string GetLocalStringValue(const std::string& name, const std::string& defaultValue) const;
  void SetLocalValue(const std::string& name, int32_t value);
  void SetLocalValue(const std::string& name, const std::string& value);

  // Name fragments for callers that build their own keys.
  static std::string GetRegistryKey() { return "Orvelle\\Tandro"; }
  static std::string GetViewerBarKey() { return "DesktopViewerBarState"; }

  // True when m_authorWebContentKey (machine-wide) holds a number named name
  // (letter case ignored) that is not 0.
  bool CanAuthorWebContent(const std::string& name) const;

  // The text values under m_versionKey (machine-wide) in stored order, read
  // once by the first call of either function.
  int32_t GetVersionCount();
  // REQUIRES: 0 <= index < GetVersionCount().
  const CVersion& GetVersion(int32_t index);
  // Stores the version's value as a text named by its name under m_versionKey.
  void SetVersion(const CVersion& version);

  // Any value of either root. Integers read the default when absent or stored
  // as another type; texts also when longer than kMaxTextLength.
  int32_t GetIntValue(Root root, const std::string& key, const std::string& name,
                      int32_t defaultValue) const;
  std::string GetStringValue(Root root, const std::string& key, const std::string& name,
                             const std::string& defaultValue) const;
  void SetIntValue(Root root, const std::string& key, const std::string& name, int32_t value);
  void SetStringValue(Root root, const std::string& key, const std::string& name,
                      const std::string& value);

  // The file that holds root: <directory>/user.reg or <directory>/machine.reg.
  std::string RootFilePath(Root root) const;

 private:
  // The status getters: absent, unreadable or the stored number.
  int32_t GetStatusValue(const std::string& name) const;

  // Empty: RegistryDirectory() at every access.
  std::string m_directory;
  std::optional<std::vector<CVersion>> m_versions;
};

}  // namespace brontel
