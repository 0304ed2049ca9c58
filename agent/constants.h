// The agent's fixed behaviour. There is no configuration file and no option.
#pragma once

namespace pilvo::agent {

#ifdef PILVO_SHORT_IDLE_FOR_TESTS
// The test build pilvo-agent-short-idle, whose integration test goes idle
// and back within seconds. Never installed.
inline constexpr double kIdleThresholdSeconds = 2.0;
inline constexpr double kIdleCheckInterval = 0.5;
#else
inline constexpr double kIdleThresholdSeconds = 300.0;
inline constexpr double kIdleCheckInterval = 30.0;
#endif
inline constexpr double kPermissionCheckInterval = 5.0;
inline constexpr double kPruneInterval = 86400.0;
inline constexpr int kPruneKeepDays = 30;
inline constexpr const char* kDbFileName = "agent_events.db";
inline constexpr const char* kLogFileName = "pilvo-agent.log";
inline constexpr const char* kTrustedFlagFileName = ".ax_trusted";
inline constexpr const char* kSupportDirName = "pilvo";
// In the support directory; locked by the running agent.
inline constexpr const char* kLockFileName = "agent.lock";
// A log larger than this at start is moved to kLogFileName + ".1".
inline constexpr long long kLogRotateBytes = 10LL * 1024 * 1024;
// Soft limit on SQLite's heap (mostly its page cache) in the agent process.
inline constexpr long long kSqliteHeapLimitBytes = 512 * 1024;

// Exit statuses (documented in the README).
inline constexpr int kExitStopped = 0;           // SIGTERM or SIGINT
inline constexpr int kExitStoreUnavailable = 1;  // the event store cannot be opened
inline constexpr int kExitNoDisplay = 2;         // no X display nor wlroots compositor at start
inline constexpr int kExitDisplayLost = 3;       // the display or compositor went away
inline constexpr int kExitAlreadyRunning = 4;    // another agent runs for this user

}  // namespace pilvo::agent
