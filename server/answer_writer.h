// WriteSyncAnswer: the answer document of a sync request, written after the
// request was applied. It carries the gid, then either every change of the
// account's view above the request's version (a delta) or, when that version
// cannot be trusted, every live record of the view (full); parents before
// children, a record's own element before its link changes, then click echoes
// and conflicts. Only the records this request inserted echo their lid.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/uid128.h"
#include "server/storage.h"
#include "server/sync_session.h"

namespace brontel::server {

// The revision text every answer carries.
inline constexpr char kServerRevision[] = "r1";
// The name an event shows to subscribers of a calendar with hidden details.
inline constexpr char kHiddenEventName[] = "Busy";

struct AnswerRequest {
  int64_t account = 0;
  Family family = Family::kCalendars;
  UID128 gid;
  // The request root's ver and ts.
  uint32_t version = kInvalidVersion;
  uint32_t stamp = 0;
};

std::string WriteSyncAnswer(Storage& storage, const AnswerRequest& request,
                            const RequestOutcome& outcome);

// "<tandroresp sts="0"/>": the answer to a request the server cannot serve.
std::string FailureAnswer();

}  // namespace brontel::server
