// Progress reports of a server synchronization: each stage goes to the
// caller's callback, when there is one, timed in the time log as "callBack "
// and the stage's name, so a slow callback shows in the timings.
#pragma once

#include "brontel/core/enumerations.h"

namespace brontel {

class TimeLogger;

// "justGettingStarted", "waitingForPriorSyncToComplete", ... ; "" for a value
// that names no stage.
const char* SyncStageName(SyncCallBackProgress stage);

// Calls callback(stage) when callback is not null; timeLogger may be null.
void ReportSyncProgress(SyncProgressCallback callback, SyncCallBackProgress stage,
                        TimeLogger* timeLogger);

}  // namespace brontel
