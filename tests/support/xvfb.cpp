#include "xvfb.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "process.h"

namespace fs = std::filesystem;

namespace orvtest {

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool Xvfb::Start(std::string* why, int width, int height) {
  if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) {
    *why = "Xvfb or xdotool is not installed";
    return false;
  }
  // Spread parallel tests over display numbers; the lock file tells a number is taken.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int n = 100 + static_cast<int>((::getpid() * 7 + attempt * 13) % 800);
    if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    ProcOptions opt;
    pid = StartProcess({"/usr/bin/Xvfb", ":" + std::to_string(n), "-screen", "0", screen, "-nolisten", "tcp"}, opt,
                       "/dev/null", "/dev/null");
    const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int i = 0; i < 400; ++i) {
      // Ready when a client can talk to it, not merely when its socket shows.
      if (fs::exists(sock)) {
        number = n;
        display = ":" + std::to_string(n);
        int code = -1;
        Run("xdotool getdisplaygeometry", &code);
        if (code == 0) return true;
      }
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;  // lost the race for this number
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  *why = "no free X display number";
  return false;
}

Xvfb::~Xvfb() {
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
}

std::string Xvfb::Run(const std::string& command, int* exitCode) const {
  std::string out;
  std::FILE* p = ::popen(("DISPLAY=" + display + " " + command + " 2>/dev/null").c_str(), "r");
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
