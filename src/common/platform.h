// Thin platform layer: what the original design took from its host OS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// Console. One narrow UTF-8 stream; LC_NUMERIC stays "C" so numbers print and parse alike everywhere.
void ConsoleInit();
void Bell();  // the console bell, character 7
// True when standard output is a terminal (a progress line may then be overwritten with \r).
bool ConsoleIsTerminal();
// A tool's quiet console: from HoldConsole() on, standard output goes into a temporary file
// instead of the terminal (false when that cannot be arranged). ShowHeldConsole() writes to
// standard error the held lines that contain one of `keep`, or all of them for an empty list,
// and empties the file; without a held console it does nothing.
bool HoldConsole();
void ShowHeldConsole(const std::vector<std::string>& keep);
// True when the message locale is Japanese, decided as POSIX does: the first non-empty of
// LC_ALL, LC_MESSAGES and LANG starts with "ja". The key list and the messages that were
// written in Japanese print in English otherwise.
bool JapaneseMessages();
// Name of the operating system the player runs on ("Linux"), for the start banner.
std::string PlatformName();

// "cd": print the working directory on its own line.
void PrintWorkingDirectory();

// "copy": byte copy of one file, never through a shell. Returns false and fills err on failure.
// The target is written to a temporary name beside it and renamed, so no half file is left;
// an existing target is never replaced (the copy fails with "will not overwrite ...").
bool CopyFile(const std::string& from, const std::string& to, std::string* err = nullptr);

// File-existence tests.
// A relative name made absolute against the current folder (the tools change into the
// working directory after reading their arguments); empty or unresolvable names as given.
std::string AbsolutePath(const std::string& path);
bool FileExists(const std::string& path);        // exists (any type), no open
bool FileReadable(const std::string& path);      // can be opened for reading

// Writes text to path atomically: temporary file in the same folder, fsync, rename.
bool WriteFileAtomic(const std::string& path, const std::string& text);

struct TimeStamp {
  int64_t sec = 0;
  int64_t usec = 0;
};
// The cycle timer's clock: seconds and microseconds of the monotonic clock. Only differences of
// two stamps are used, and an installation runs for days: a wall clock that NTP or an operator
// sets back would stretch every wait that is running by as much (a one-second wait by an hour).
TimeStamp NowStamp();

// Named POSIX shared-memory sections. MapSharedSection creates the section (mode 0600) or opens
// the existing one and maps `bytes` of it read-write. A section of another user or of another
// size is refused, and the mode is narrowed to 0600 whatever the umask made of it. On failure
// it returns nullptr, says why, and sets *mapping when the section opened but did not map.
volatile void* MapSharedSection(const std::string& name, size_t bytes, std::string* why, bool* mapping);
void UnmapSharedSection(volatile void* view, size_t bytes);
void RemoveSharedSection(const std::string& name);  // the name goes; mappings stay valid

// Process identity that survives the reuse of a process id: the start time of process `pid`
// in clock ticks since boot. 0 when no such process runs (an ended process that its parent
// has not yet reaped counts as ended).
uint64_t ProcessStartTime(int pid);
int OwnProcessId();

// Numbered names: "%Nd" field whose blanks become '0' (S001, clip_00042.jpg).
std::string ZeroFill(std::string s);

// Ends the process the way the design does (set-up failures end with 0).
[[noreturn]] void EndProcess(int code);
// In-process callers that must go on after the player refused its input and ended (the fuzz
// targets) install a hook that EndProcess calls, after flushing, instead of exiting. The hook
// must not return (it throws or ends the process itself); nullptr (default) = exit.
void SetProcessEndHook(void (*hook)(int code));

// While it lives, standard error (descriptor 2) goes nowhere: for library calls that report on
// it by themselves (the video back-ends probing a name), so that the program's own one-line
// reason stands alone.
struct QuietStderr {
  int saved = -1;  // the descriptor standard error is put back to; -1 = nothing was changed
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;
};

// Background threads. MakeBackgroundThread gives the calling thread the lowest scheduling
// priority (nice 19, for this thread only) and a name in /proc's task list (at most 15
// characters): work that must never take the processor from the cycle's thread. False when the
// priority could not be lowered (the thread then runs on as it was).
bool MakeBackgroundThread(const char* name);
// The calling thread's processor-time clock, which any thread of the process may read with
// ThreadCpuMicros (microseconds of processor time its thread has used; -1 when unreadable).
int OwnThreadCpuClock();
int64_t ThreadCpuMicros(int clock);

// Environment helpers.
std::string EnvOr(const char* name, const std::string& fallback);
// The whole text a number within lo..hi (a whole one for ParseWhole); false otherwise, the value
// untouched. For arguments of the tools.
bool ParseWhole(const std::string& s, int lo, int hi, int* v);
bool ParseNumber(const std::string& s, double lo, double hi, double* v);

}  // namespace orv
