#include "brontel/host/sync_progress.h"

#include <string>

#include "brontel/host/time_logger.h"

namespace brontel {

const char* SyncStageName(SyncCallBackProgress stage) {
  switch (stage) {
    case justGettingStarted:
      return "justGettingStarted";
    case waitingForPriorSyncToComplete:
      return "waitingForPriorSyncToComplete";
    case gettingSyncDataReady:
      return "gettingSyncDataReady";
    case grabbingLatestChanges:
      return "grabbingLatestChanges";
    case sendingChangesToServer:
      return "sendingChangesToServer";
    case syncingWithServerData:
      return "syncingWithServerData";
    case allDoneNow:
      return "allDoneNow";
  }
  return "";
}

void ReportSyncProgress(SyncProgressCallback callback, SyncCallBackProgress stage,
                        TimeLogger* timeLogger) {
  if (callback == nullptr) return;
  const std::string label = std::string("callBack ") + SyncStageName(stage);
  if (timeLogger != nullptr) timeLogger->MarkBegin(label);
  callback(stage);
  if (timeLogger != nullptr) timeLogger->MarkEnd(label);
}

}  // namespace brontel
