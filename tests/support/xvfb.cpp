#include "xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "process.h"

namespace fs = std::filesystem;

namespace orvtest {

namespace {

// One entry of an X authority file: family, address, display number, protocol, cookie,
// each field (but the family) preceded by its 16-bit big-endian length.
void PutField(std::string& out, const std::string& s) {
  out += static_cast<char>((s.size() >> 8) & 0xFF);
  out += static_cast<char>(s.size() & 0xFF);
  out += s;
}

std::string AuthorityEntry(const std::string& number, const std::string& cookie) {
  std::string e;
  e += static_cast<char>(0xFF), e += static_cast<char>(0xFF);  // any address (FamilyWild)
  PutField(e, "");
  PutField(e, number);
  PutField(e, "MIT-MAGIC-COOKIE-1");
  PutField(e, cookie);
  return e;
}

bool WriteAll(const fs::path& p, const std::string& bytes) {
  const fs::path tmp = p.string() + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << bytes;
    if (!f.flush()) return false;
  }
  std::error_code ec;
  fs::rename(tmp, p, ec);
  return !ec;
}

// Reads the display number the server writes on its -displayfd once it accepts clients.
int ReadDisplayNumber(int fd, double seconds) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (got.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    char buf[32];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;  // the server ended without a display
    got.append(buf, static_cast<size_t>(n));
  }
  char* stop = nullptr;
  const long v = std::strtol(got.c_str(), &stop, 10);
  return stop != got.c_str() && v >= 0 && v < 65536 ? static_cast<int>(v) : -1;
}

}  // namespace

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool Xvfb::Start(std::string* why, int width, int height) {
  if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) {
    *why = "Xvfb or xdotool is not installed";
    return false;
  }
  std::random_device rd;
  std::string cookie;
  for (int i = 0; i < 16; ++i) cookie += static_cast<char>(rd() & 0xFF);
  for (;;) {
    dir_ = fs::temp_directory_path() / ("orvante-xvfb-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(dir_, ec)) break;
  }
  authority = (dir_ / "Xauthority").string();
  // The server reads every cookie of its file whatever the display number says.
  if (!WriteAll(authority, AuthorityEntry("0", cookie))) {
    *why = "cannot write the authority file " + authority;
    return false;
  }

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = "cannot make a pipe";
    return false;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::fcntl(fds[1], F_SETFD, 0);  // the one descriptor the server inherits besides 0..2
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
    const std::string fd = std::to_string(fds[1]);
    // -noreset: by default the server resets whenever its last client goes (each xdotool call,
    // a player that ended), and a client connecting during the reset is turned away: the player
    // then said "no X server answers" about one start in ten.
    std::vector<std::string> argv = {"Xvfb", "-displayfd", fd, "-auth", authority, "-nolisten", "tcp", "-noreset",
                                     "-screen", "0", screen};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    *why = "cannot fork";
    return false;
  }
  number = ReadDisplayNumber(fds[0], 30.0);
  ::close(fds[0]);
  if (number < 0) {
    *why = "Xvfb did not report a display";
    return false;
  }
  display = ":" + std::to_string(number);
  // Clients look the cookie up by display number.
  if (!WriteAll(authority, AuthorityEntry("0", cookie) + AuthorityEntry(std::to_string(number), cookie))) {
    *why = "cannot write the authority file " + authority;
    return false;
  }
  // Verified as this server: the cookie gets in and the screen is the size asked for.
  for (int i = 0; i < 50; ++i) {
    int code = -1;
    std::istringstream geo(Run("xdotool getdisplaygeometry", &code));
    int w = 0, h = 0;
    if (code == 0 && (geo >> w >> h) && w == width && h == height) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  *why = "Xvfb on " + display + " does not answer with its own cookie";
  return false;
}

Xvfb::~Xvfb() {
  if (pid > 0) {
    // A polite end: the server then removes its lock file and socket.
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::map<std::string, std::string> Xvfb::Env() const { return {{"DISPLAY", display}, {"XAUTHORITY", authority}}; }

std::string Xvfb::Run(const std::string& command, int* exitCode) const {
  std::string line = "DISPLAY=";
  line.append(display).append(" XAUTHORITY=").append(authority).append(" ").append(command).append(" 2>/dev/null");
  std::string out;
  std::FILE* p = ::popen(line.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  if (exitCode) *exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

std::string Xvfb::FindWindow(const std::string& name, double timeoutSeconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string ids = Run("xdotool search --name '" + name + "'");
    if (!ids.empty()) return ids.substr(0, ids.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

cv::Mat Xvfb::Screenshot() const {
  TempDir d;
  const std::string png = (d.path / "shot.png").string();
  Run("import -window root " + png);
  return cv::imread(png, cv::IMREAD_COLOR);
}

}  // namespace orvtest
