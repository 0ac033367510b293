#include "brontel/host/registry.h"

#include <utility>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"
#include "brontel/platform/reg_file.h"

namespace brontel {
namespace {

constexpr int32_t kConnectTimeoutDefault = 30;
constexpr int32_t kStallTimeoutDefault = 120;

std::string KeyPath(CRegistry::Root root, const std::string& key) {
  return std::string(root == CRegistry::Root::kCurrentUser ? CRegistry::m_currentUserRoot
                                                           : CRegistry::m_localMachineRoot) +
         "\\" + key;
}

// Reads the store of the file; an unreadable file reads as an empty store, so
// every setting gets its default.
RegFile LoadStore(const std::string& path) {
  RegFile store;
  store.Load(path);
  return store;
}

}  // namespace

CVersion::CVersion(std::string name, std::string value)
    : m_name(std::move(name)), m_value(std::move(value)) {}

std::string CVersion::GetDisplayText() const {
  return Format("%s:     %s", m_name.c_str(), m_value.c_str());
}

CRegistry::CRegistry() = default;

CRegistry::CRegistry(std::string directory) : m_directory(std::move(directory)) {}

std::string CRegistry::RootFilePath(Root root) const {
  const std::string directory = m_directory.empty() ? RegistryDirectory() : m_directory;
  return directory + (root == Root::kCurrentUser ? "/user.reg" : "/machine.reg");
}

int32_t CRegistry::GetIntValue(Root root, const std::string& key, const std::string& name,
                               int32_t defaultValue) const {
  std::optional<uint32_t> number = LoadStore(RootFilePath(root)).GetDword(KeyPath(root, key), name);
  return number ? static_cast<int32_t>(*number) : defaultValue;
}

std::string CRegistry::GetStringValue(Root root, const std::string& key, const std::string& name,
                                      const std::string& defaultValue) const {
  std::optional<std::string> text =
      LoadStore(RootFilePath(root)).GetString(KeyPath(root, key), name);
  // A registry read fills a buffer of 256 bytes; a longer text does not fit.
  if (!text || text->size() > kMaxTextLength) return defaultValue;
  return *text;
}

void CRegistry::SetIntValue(Root root, const std::string& key, const std::string& name,
                            int32_t value) {
  const std::string keyPath = KeyPath(root, key);
  UpdateRegFile(RootFilePath(root), [&](RegFile& store) {
    store.SetDword(keyPath, name, static_cast<uint32_t>(value));
  });
}

void CRegistry::SetStringValue(Root root, const std::string& key, const std::string& name,
                               const std::string& value) {
  const std::string keyPath = KeyPath(root, key);
  UpdateRegFile(RootFilePath(root), [&](RegFile& store) {
    if (!store.SetString(keyPath, name, value)) {
      DebugLine("Setting " + name + " not stored: its text holds a line break\n");
    }
  });
}

int32_t CRegistry::GetStatusValue(const std::string& name) const {
  const RegFile store = LoadStore(RootFilePath(Root::kLocalMachine));
  const std::string keyPath = KeyPath(Root::kLocalMachine, m_tandroKey);
  if (store.FindValue(keyPath, name) == nullptr) return kStatusNotStored;
  std::optional<uint32_t> number = store.GetDword(keyPath, name);
  return number ? static_cast<int32_t>(*number) : kStatusUnreadable;
}

// Named settings ------------------------------------------------------------

#define BRONTEL_MACHINE_TEXT(Getter, Setter, valueName)                     \
  std::string CRegistry::Getter() const {                                   \
    return GetStringValue(Root::kLocalMachine, m_tandroKey, valueName, ""); \
  }                                                                         \
  void CRegistry::Setter(const std::string& value) {                        \
    SetStringValue(Root::kLocalMachine, m_tandroKey, valueName, value);     \
  }

#define BRONTEL_INT_SETTING(Getter, Setter, root, key, valueName, defaultValue) \
  int32_t CRegistry::Getter() const {                                           \
    return GetIntValue(root, key, valueName, defaultValue);                     \
  }                                                                             \
  void CRegistry::Setter(int32_t value) {                                       \
    SetIntValue(root, key, valueName, value);                                   \
  }

BRONTEL_MACHINE_TEXT(GetServerSyncUrl, SetServerSyncUrl, "ServerSyncUrl")
BRONTEL_MACHINE_TEXT(GetServerSyncName, SetServerSyncName, "ServerSyncName")
BRONTEL_MACHINE_TEXT(GetServerNewsUrl, SetServerNewsUrl, "ServerNewsUrl")
BRONTEL_MACHINE_TEXT(GetServerCommunityUrl, SetServerCommunityUrl, "ServerCommunityUrl")
BRONTEL_MACHINE_TEXT(GetInstallPathname, SetInstallPathname, "InstallPathname")

BRONTEL_INT_SETTING(GetSyncLogging, SetSyncLogging, Root::kLocalMachine, m_tandroKey, "SyncLogging",
                    0)
BRONTEL_INT_SETTING(GetEchoLogging, SetEchoLogging, Root::kLocalMachine, m_tandroKey, "EchoLogging",
                    0)
BRONTEL_INT_SETTING(GetTimeLogging, SetTimeLogging, Root::kLocalMachine, m_tandroKey, "TimeLogging",
                    0)
BRONTEL_INT_SETTING(GetSyncPalmAB, SetSyncPalmAB, Root::kLocalMachine, m_tandroKey, "SyncPalmAB", 0)
BRONTEL_INT_SETTING(GetSyncPalmDB, SetSyncPalmDB, Root::kLocalMachine, m_tandroKey, "SyncPalmDB", 0)
BRONTEL_INT_SETTING(GetSyncMarkAB, SetSyncMarkAB, Root::kLocalMachine, m_tandroKey, "SyncMarkAB", 1)
BRONTEL_INT_SETTING(GetSyncMarkDB, SetSyncMarkDB, Root::kLocalMachine, m_tandroKey, "SyncMarkDB", 1)
BRONTEL_INT_SETTING(GetNewsTimeout, SetNewsTimeout, Root::kCurrentUser, m_tandroKey, "NewsTimeout",
                    -1)
BRONTEL_INT_SETTING(GetFirstDayOfWeek, SetFirstDayOfWeek, Root::kCurrentUser, m_viewerKey,
                    "FirstDayOfWeek", -1)
BRONTEL_INT_SETTING(GetWorkStartTime, SetWorkStartTime, Root::kCurrentUser, m_viewerKey,
                    "WorkStartTime", -1)
BRONTEL_INT_SETTING(GetWorkStopTime, SetWorkStopTime, Root::kCurrentUser, m_viewerKey,
                    "WorkStopTime", -1)
BRONTEL_INT_SETTING(IsDurationPreferred, SetIsDurationPreferred, Root::kCurrentUser, m_viewerKey,
                    "IsDurationPreferred", -1)

#undef BRONTEL_MACHINE_TEXT
#undef BRONTEL_INT_SETTING

QuestionStatus CRegistry::GetServerSyncQuestionStatus() const {
  return GetStatusValue("ServerSyncQuestionStatus");
}

void CRegistry::SetServerSyncQuestionStatus(QuestionStatus status) {
  SetIntValue(Root::kLocalMachine, m_tandroKey, "ServerSyncQuestionStatus", status);
}

AnswerStatus CRegistry::GetConduitAnswerStatus() const {
  return GetStatusValue("ConduitAnswerStatus");
}

void CRegistry::SetConduitAnswerStatus(AnswerStatus status) {
  SetIntValue(Root::kLocalMachine, m_tandroKey, "ConduitAnswerStatus", status);
}

int32_t CRegistry::GetConnectTimeoutSeconds() const {
  int32_t seconds =
      GetIntValue(Root::kLocalMachine, m_tandroKey, "ConnectTimeout", kConnectTimeoutDefault);
  return seconds >= 1 ? seconds : kConnectTimeoutDefault;
}

void CRegistry::SetConnectTimeoutSeconds(int32_t seconds) {
  SetIntValue(Root::kLocalMachine, m_tandroKey, "ConnectTimeout", seconds);
}

int32_t CRegistry::GetStallTimeoutSeconds() const {
  int32_t seconds =
      GetIntValue(Root::kLocalMachine, m_tandroKey, "StallTimeout", kStallTimeoutDefault);
  return seconds >= 1 ? seconds : kStallTimeoutDefault;
}

void CRegistry::SetStallTimeoutSeconds(int32_t seconds) {
  SetIntValue(Root::kLocalMachine, m_tandroKey, "StallTimeout", seconds);
}

void CRegistry::SetCalendarBarIsVisible(bool visible) {
  SetIntValue(Root::kCurrentUser, m_calendarBarKey, "Visible", visible ? 1 : 0);
}

std::string CRegistry::GetDesktopPathname() const {
  return GetStringValue(Root::kCurrentUser, m_coreKey, "Path", "");
}

std::string CRegistry::GetLastUserName() const {
  return GetStringValue(Root::kCurrentUser, m_preferencesKey, "LastUserName", "");
}

void CRegistry::SetLastUserName(const std::string& name) {
  SetStringValue(Root::kCurrentUser, m_preferencesKey, "LastUserName", name);
}

// Free-form settings --------------------------------------------------------

int32_t CRegistry::GetGlobalIntValue(const std::string& name, int32_t defaultValue) const {
  return GetIntValue(Root::kLocalMachine, m_tandroKey, name, defaultValue);
}

std::string CRegistry::GetGlobalStringValue(const std::string& name,
                                            const std::string& defaultValue) const {
  return GetStringValue(Root::kLocalMachine, m_tandroKey, name, defaultValue);
}

void CRegistry::SetGlobalValue(const std::string& name, int32_t value) {
  SetIntValue(Root::kLocalMachine, m_tandroKey, name, value);
}

void CRegistry::SetGlobalValue(const std::string& name, const std::string& value) {
  SetStringValue(Root::kLocalMachine, m_tandroKey, name, value);
}

int32_t CRegistry::GetLocalIntValue(const std::string& name, int32_t defaultValue) const {
  return GetGlobalIntValue(name, defaultValue);
}

std::string CRegistry::GetLocalStringValue(const std::string& name,
                                           const std::string& defaultValue) const {
  return GetGlobalStringValue(name, defaultValue);
}

void CRegistry::SetLocalValue(const std::string& name, int32_t value) {
  SetGlobalValue(name, value);
}

void CRegistry::SetLocalValue(const std::string& name, const std::string& value) {
  SetGlobalValue(name, value);
}

// Web content and versions --------------------------------------------------

bool CRegistry::CanAuthorWebContent(const std::string& name) const {
  return GetIntValue(Root::kLocalMachine, m_authorWebContentKey, name, 0) != 0;
}

int32_t CRegistry::GetVersionCount() {
  if (!m_versions) {
    m_versions.emplace();
    const RegFile store = LoadStore(RootFilePath(Root::kLocalMachine));
    if (const RegFile::Key* key = store.FindKey(KeyPath(Root::kLocalMachine, m_versionKey))) {
      for (const RegFile::Value& value : key->values) {
        if (value.type == RegFile::ValueType::kString)
          m_versions->emplace_back(value.name, value.text);
      }
    }
  }
  return static_cast<int32_t>(m_versions->size());
}

const CVersion& CRegistry::GetVersion(int32_t index) {
  // Reads the table when this is the first call; a release build skips the check.
  const int32_t count = GetVersionCount();
  BRONTEL_REQUIRE(index >= 0 && index < count, "0 <= index < GetVersionCount()");
  return (*m_versions)[static_cast<size_t>(index)];
}

void CRegistry::SetVersion(const CVersion& version) {
  SetStringValue(Root::kLocalMachine, m_versionKey, version.GetName(), version.GetValue());
}

}  // namespace brontel
