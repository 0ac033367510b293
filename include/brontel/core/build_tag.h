// The build tag: library letters, then year, month, day and time of the build.
// It labels the first entry of every API object's log and stamps every server
// request.
#pragma once

namespace brontel {

inline constexpr char kBuildTag[] = "BRy2000m03d29t1052";

}  // namespace brontel
