#include "common/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace orv {

void ConsoleInit() {
  // Everything goes through stdout/stderr as UTF-8. Character classes follow the
  // user's locale, numbers stay "C" so "%lf" reads "1.5" everywhere.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  // Line buffering keeps the console log in step with the picture even when piped.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void Bell() { std::fputc(7, stdout); }

bool ConsoleIsTerminal() { return ::isatty(::fileno(stdout)) == 1; }

namespace {
int heldConsole = -1;  // descriptor of the held console's temporary file; -1 = none
}  // namespace

bool HoldConsole() {
  std::FILE* file = std::tmpfile();  // already unlinked: gone when the process ends
  if (!file) return false;
  std::fflush(stdout);
  heldConsole = ::dup(::fileno(file));
  std::fclose(file);
  return heldConsole >= 0 && ::dup2(heldConsole, STDOUT_FILENO) >= 0;
}

void ShowHeldConsole(const std::vector<std::string>& keep) {
  if (heldConsole < 0) return;
  std::fflush(stdout);
  std::string text;
  char buf[65536];
  for (ssize_t got; (got = ::pread(heldConsole, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;)
    text.append(buf, static_cast<size_t>(got));
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    bool shown = keep.empty();
    for (const std::string& k : keep) shown = shown || line.find(k) != std::string::npos;
    if (shown) std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
  if (::ftruncate(heldConsole, 0) == 0) ::lseek(heldConsole, 0, SEEK_SET);
}

bool JapaneseMessages() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return std::strncmp(v, "ja", 2) == 0;
  }
  return false;
}

std::string PlatformName() {
  struct utsname u {};
  if (::uname(&u) == 0 && u.sysname[0] != '\0') return u.sysname;
  return "POSIX";
}

void PrintWorkingDirectory() {
  std::error_code ec;
  auto cwd = std::filesystem::current_path(ec);
  std::printf("%s\n", ec ? "." : cwd.string().c_str());
}

namespace {

// A temporary name beside the target, private to this process: two players writing the same
// file at once must not write into one temporary file. A file left by a killed process
// carries that process's number and is not mistaken for a target.
std::string TempNameFor(const std::string& target, const char* suffix) {
  return target + "." + std::to_string(::getpid()) + suffix;
}

// Puts tmp in place of `to` only if `to` does not exist (EEXIST otherwise). Falls back to a
// hard link where the file system has no no-replace rename, and to a checked rename where it
// has no links either (FAT): there a copy started at the same instant could still win.
int RenameNoReplace(const std::string& tmp, const std::string& to) {
  if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(tmp.c_str(), to.c_str()) == 0) {
    ::unlink(tmp.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return errno;
  if (::access(to.c_str(), F_OK) == 0) return EEXIST;
  return ::rename(tmp.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

bool CopyFile(const std::string& from, const std::string& to, std::string* err) {
  auto fail = [&](const std::string& what, int e) {
    if (err) *err = what + ": " + std::strerror(e);
    return false;
  };
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("cannot open " + from, errno);
  if (FileExists(to)) {
    ::close(in);
    return fail("will not overwrite " + to, EEXIST);
  }
  const std::string tmp = TempNameFor(to, ".part");
  int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return fail("cannot create " + to, e);
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(in), ::close(out), ::unlink(tmp.c_str());
      return fail("cannot read " + from, e);
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        int e = errno;
        ::close(in), ::close(out), ::unlink(tmp.c_str());
        return fail("cannot write " + to, e);
      }
      done += w;
    }
  }
  ::close(in);
  if (::fsync(out) != 0 || ::close(out) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    return fail("cannot write " + to, e);
  }
  if (const int e = RenameNoReplace(tmp, to); e != 0) {
    ::unlink(tmp.c_str());
    return fail(e == EEXIST ? "will not overwrite " + to : "cannot create " + to, e);
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
  std::error_code ec;
  const std::filesystem::path a = std::filesystem::absolute(path, ec);
  return ec ? path : a.string();
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool FileReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool WriteFileAtomic(const std::string& path, const std::string& text) {
  const std::string tmp = TempNameFor(path, ".tmp");
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      ::close(fd), ::unlink(tmp.c_str());
      return false;
    }
    p += w, left -= static_cast<size_t>(w);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

TimeStamp NowStamp() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return TimeStamp{static_cast<int64_t>(ts.tv_sec), static_cast<int64_t>(ts.tv_nsec / 1000)};
}

std::string ZeroFill(std::string s) {
  for (char& c : s)
    if (c == ' ') c = '0';
  return s;
}

namespace {
void (*processEndHook)(int) = nullptr;  // see SetProcessEndHook
}  // namespace

void SetProcessEndHook(void (*hook)(int code)) { processEndHook = hook; }

void EndProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (processEndHook) processEndHook(code);
  std::exit(code);
}

volatile void* MapSharedSection(const std::string& name, size_t bytes, std::string* why, bool* mapping) {
  *mapping = false;
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  auto fail = [&](const std::string& reason) -> volatile void* {
    ::close(fd);
    *why = reason;
    return nullptr;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  // A section of another user could be read or changed by that user: never use it.
  if (st.st_uid != ::geteuid()) return fail("the section belongs to another user");
  if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)
    return fail(std::string("cannot set mode 0600: ") + std::strerror(errno));
  // Size 0: just created, here or by a copy starting at the same moment; both size it alike.
  if (st.st_size == 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) return fail(std::strerror(errno));
  if (st.st_size != 0 && static_cast<size_t>(st.st_size) != bytes)
    return fail("existing section has " + std::to_string(static_cast<long long>(st.st_size)) + " bytes instead of " +
                std::to_string(bytes));
  void* view = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int e = errno;
  ::close(fd);  // the mapping stays valid without it
  if (view == MAP_FAILED) {
    *mapping = true;
    *why = std::strerror(e);
    return nullptr;
  }
  return view;
}

void UnmapSharedSection(volatile void* view, size_t bytes) {
  if (view) ::munmap(const_cast<void*>(view), bytes);
}

void RemoveSharedSection(const std::string& name) { ::shm_unlink(name.c_str()); }

uint64_t ProcessStartTime(int pid) {
  if (pid <= 0) return 0;
  // Read with plain calls: readers of the shared section ask this every cycle.
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 0;
  buf[n] = 0;
  // The command name (field 2) may hold blanks and parentheses: count from its last ')'.
  const char* p = std::strrchr(buf, ')');
  if (!p || p[1] != ' ') return 0;
  p += 2;
  if (*p == 'Z' || *p == 'X') return 0;  // field 3, the state: ended, not yet reaped
  for (int field = 3; field < 22; ++field) {
    p = std::strchr(p, ' ');
    if (!p) return 0;
    ++p;
  }
  return std::strtoull(p, nullptr, 10);
}

int OwnProcessId() { return static_cast<int>(::getpid()); }

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : fallback;
}

bool ParseWhole(const std::string& s, int lo, int hi, int* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long x = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || x < lo || x > hi) return false;
  *v = static_cast<int>(x);
  return true;
}

bool ParseNumber(const std::string& s, double lo, double hi, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double x = std::strtod(s.c_str(), &end);
  if (*end != '\0' || errno != 0 || !(x >= lo && x <= hi)) return false;
  *v = x;
  return true;
}

bool MakeBackgroundThread(const char* name) {
  ::pthread_setname_np(::pthread_self(), name);  // a longer name is refused, and only the name
  // On Linux a thread is a task of its own: its id as the "process" lowers this thread alone.
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19) == 0;
}

int OwnThreadCpuClock() {
  clockid_t clock = CLOCK_THREAD_CPUTIME_ID;
  return ::pthread_getcpuclockid(::pthread_self(), &clock) == 0 ? static_cast<int>(clock) : -1;
}

int64_t ThreadCpuMicros(int clock) {
  timespec t{};
  if (clock == -1 || ::clock_gettime(static_cast<clockid_t>(clock), &t) != 0) return -1;
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

QuietStderr::QuietStderr() {
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved = ::dup(STDERR_FILENO);
  if (saved >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
    ::close(saved);
    saved = -1;
  }
  ::close(null);
}

QuietStderr::~QuietStderr() {
  if (saved < 0) return;
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
}

}  // namespace orv
