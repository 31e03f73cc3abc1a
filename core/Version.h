#pragma once
// The release, as the command line's --version and the run reports give it.

namespace tarnwell {

inline constexpr const char* kVersionText = "21.04";

}  // namespace tarnwell
