#include "process.h"
#include "player/motion.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace orvtest {

std::string TestSectionName(pid_t pid) { return "/orvante-test-" + std::to_string(pid); }

namespace {

// A test process that runs player code in-process (set-up, motion measure) uses a section
// of its own, never the installation's, and removes it when it ends, however the test ends.
// A forked child (death tests) leaves the name to the process that made it.
struct PrivateSection {
  pid_t owner = ::getpid();
  std::string name = TestSectionName(owner);
  PrivateSection() { ::setenv("ORVANTE_SHM_NAME", name.c_str(), 1); }
  ~PrivateSection() {
    if (::getpid() == owner) orv::RemoveSharedSections(name);
  }
};
const PrivateSection privateSection;

// Each test starts in the folder the binary started in: a test run before it in this process
// may have left it in a temporary folder that is gone.
struct StartFolder : testing::EmptyTestEventListener {
  fs::path folder = fs::current_path();
  void OnTestStart(const testing::TestInfo&) override { std::error_code ec; fs::current_path(folder, ec); }
};
const bool startFolderListening = (testing::UnitTest::GetInstance()->listeners().Append(new StartFolder), true);

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const ProcOptions& opt) {
  if (!opt.cwd.empty() && ::chdir(opt.cwd.c_str()) != 0) _exit(126);
  for (const auto& name : opt.unsetEnv) ::unsetenv(name.c_str());
  for (const auto& [k, v] : opt.env) ::setenv(k.c_str(), v.c_str(), 1);
  // A player started by a test never touches the section of a real installation.
  if (!opt.env.count("ORVANTE_SHM_NAME")) ::setenv("ORVANTE_SHM_NAME", TestSectionName(::getpid()).c_str(), 1);
  int devnull = ::open("/dev/null", O_RDONLY);
  if (devnull >= 0) ::dup2(devnull, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  _exit(127);
}

}  // namespace

pid_t StartProcess(const std::vector<std::string>& argv, const ProcOptions& opt, const fs::path& outFile,
                   const fs::path& errFile) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(125);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ExecChild(argv, opt);
  }
  return pid;
}

int WaitProcess(pid_t pid, double timeoutSeconds, bool* timedOut) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      orv::RemoveSharedSections(TestSectionName(pid));
      if (timedOut) *timedOut = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (timedOut) *timedOut = false;
  orv::RemoveSharedSections(TestSectionName(pid));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StopProcess(pid_t pid, double graceSeconds) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  WaitProcess(pid, graceSeconds);  // kills on time-out; removes the section either way
}

ProcResult RunProcess(const std::vector<std::string>& argv, const ProcOptions& opt) {
  TempDir io;
  ProcResult r;
  pid_t pid = StartProcess(argv, opt, io.path / "out", io.path / "err");
  r.exitCode = WaitProcess(pid, opt.timeoutSeconds, &r.timedOut);
  r.out = ReadFile(io.path / "out");
  r.err = ReadFile(io.path / "err");
  return r;
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    path = fs::temp_directory_path() / ("orvante-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(path, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

void MakeContent(const fs::path& root, int contentNumber, int frames, int width, int height) {
  char dir[16];
  std::snprintf(dir, sizeof dir, "S%03d", contentNumber + 1);
  fs::create_directories(root / dir);
  for (int i = 0; i < frames; ++i) {
    cv::Mat img(height, width, CV_8UC3, cv::Scalar((i * 37) % 256, (i * 91) % 256, 128));
    cv::rectangle(img, {0, 0}, {width / 4, height - 1}, cv::Scalar(255, 255, 255), cv::FILLED);  // marks the left side
    char name[32];
    std::snprintf(name, sizeof name, "clip_%05d.jpg", i);
    cv::imwrite((root / dir / name).string(), img);
  }
}

int CountOf(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace orvtest
