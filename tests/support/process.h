// Test support: run real processes and prepare working directories.
#pragma once
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orvtest {

struct ProcResult {
  int exitCode = -1;   // -1 when killed by a signal or the time-out
  bool timedOut = false;
  std::string out;     // standard output
  std::string err;     // standard error
};

struct ProcOptions {
  std::filesystem::path cwd;
  std::map<std::string, std::string> env;  // added to (or replacing in) the inherited environment
  std::vector<std::string> unsetEnv;
  double timeoutSeconds = 60.0;
};

// Shared-section name a test-started player uses unless the test sets ORVANTE_SHM_NAME;
// removed when the process has been waited for.
std::string TestSectionName(pid_t pid);

// Runs argv[0] with argv, waits for it (killing it after the time-out), captures both streams.
ProcResult RunProcess(const std::vector<std::string>& argv, const ProcOptions& opt);

// Starts a process in the background; its output goes to the given files. Returns the pid.
pid_t StartProcess(const std::vector<std::string>& argv, const ProcOptions& opt,
                   const std::filesystem::path& outFile, const std::filesystem::path& errFile);
// Waits up to timeoutSeconds; kills on time-out. Returns the exit code or -1.
// The process's private section (TestSectionName) is removed once it has ended.
int WaitProcess(pid_t pid, double timeoutSeconds, bool* timedOut = nullptr);
// Asks a process to end (SIGTERM), kills it after the grace time, and cleans up as WaitProcess.
void StopProcess(pid_t pid, double graceSeconds = 5.0);

// A fresh temporary folder, removed by the destructor.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& text);

// Writes a content folder root/S00N with `frames` small JPEG frames (frame number drawn).
void MakeContent(const std::filesystem::path& root, int contentNumber, int frames, int width = 64,
                 int height = 48);

// Number of non-overlapping occurrences of needle in hay.
int CountOf(const std::string& hay, const std::string& needle);

}  // namespace orvtest
