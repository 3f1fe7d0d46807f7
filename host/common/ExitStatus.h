// The exit statuses of kx7-host's commands.
#pragma once

namespace kx7host {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace kx7host
