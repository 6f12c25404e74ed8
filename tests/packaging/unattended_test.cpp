// Unattended operation: the full-screen player window, and the example systemd unit and
// autostart entry started the way the service manager or the desktop would start them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "../support/ci.h"
#include "../support/process.h"
#include "../support/xvfb.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

constexpr const char* kWindowName = "ORVANTE  Ver.1.1";

struct Geometry {
  int x = -1, y = -1, w = 0, h = 0;
};

Geometry WindowGeometry(const Xvfb& x, const std::string& id) {
  Geometry g;
  std::istringstream in(x.Run("xdotool getwindowgeometry --shell " + id));
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq);
    const int v = std::atoi(line.c_str() + eq + 1);
    if (k == "X") g.x = v;
    if (k == "Y") g.y = v;
    if (k == "WIDTH") g.w = v;
    if (k == "HEIGHT") g.h = v;
  }
  return g;
}

// Polls until the player window's geometry satisfies `ok` (it is sized after it appears).
template <typename Pred>
bool WaitGeometry(const Xvfb& x, double seconds, Pred ok) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  do {
    const std::string id = x.FindWindow(kWindowName, 5.0);
    if (!id.empty() && ok(WindowGeometry(x, id))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

// The whole 1280x1024 test screen.
bool CoversScreen(const Xvfb& x, double seconds) {
  return WaitGeometry(x, seconds, [](const Geometry& g) { return g.x == 0 && g.y == 0 && g.w == 1280 && g.h == 1024; });
}

void TypeInPlayer(const Xvfb& x, const std::string& keys) {
  const std::string id = x.FindWindow(kWindowName, 10.0);
  if (id.empty()) return;
  x.Run("xdotool mousemove 640 512");
  x.Run("xdotool windowfocus --sync " + id + " key --delay 300 " + keys);
}

// A player started for a test: ended with ESC, ESC at the pause screen, killed otherwise.
struct Player {
  pid_t pid = -1;
  ~Player() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    WaitProcess(pid, 5.0);
  }
  // ESC pauses, ESC at the pause screen ends. On a loaded machine a key can reach the window
  // before it takes keys; keep typing ESC until the player has ended (or 30 s have passed).
  int EndWithEscape(const Xvfb& x) {
    for (int i = 0; i < 20; ++i) {
      TypeInPlayer(x, "Escape");
      for (int t = 0; t < 15; ++t) {
        // Looks without reaping; WaitProcess reaps and removes the player's private section.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
          const int code = WaitProcess(pid, 5.0);
          pid = -1;
          return code;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return -1;
  }
};

// key=value lines of an example file, in order (several Environment= lines are kept).
std::vector<std::pair<std::string, std::string>> Entries(const fs::path& file) {
  std::vector<std::pair<std::string, std::string>> out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#' || line[0] == '[') continue;
    const auto eq = line.find('=');
    if (eq != std::string::npos) out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> w;
  std::istringstream in(s);
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

class Unattended : public ::testing::Test {
 protected:
  void SetUp() override {
    ORVTEST_NEED(HaveProgram("xdotool"), "xdotool is not installed");
    std::string why;
    ORVTEST_NEED(server_.Start(&why), why);
  }
  // An installation as the README has it: ~/orvante/work beside ~/orvante/S001.
  fs::path MakeInstallation() {
    const fs::path root = dir_.path / "home" / "orvante";
    ProcOptions o;
    EXPECT_EQ(RunProcess({ORVANTE_DEMO_TOOL, root.string(), "12"}, o).exitCode, 0);
    return root / "work";
  }
  // Starts argv as the service manager would: in `cwd`, with `env`; the installed
  // /usr/bin/orvante of the example files is this build's player.
  void Start(std::vector<std::string> argv, const fs::path& cwd, std::map<std::string, std::string> env) {
    ASSERT_FALSE(argv.empty());
    if (argv[0] == "/usr/bin/orvante") argv[0] = ORVANTE_BINARY;
    ProcOptions o;
    o.cwd = cwd;
    o.env = std::move(env);
    o.env["DISPLAY"] = server_.display;  // the unit's :0 is the exhibition screen
    o.env["XAUTHORITY"] = server_.authority;  // the private server admits only its own clients
    o.unsetEnv = {"ORVANTE_HEADLESS", "ORVANTE_SCRIPT", "ORVANTE_CAMERA"};
    player_.pid = StartProcess(argv, o, dir_.path / "out", dir_.path / "err");
  }

  // What a start that did not show the window leaves to read: the test's own server (a player
  // that names another display was not started on it) and the player's errors.
  std::string StartReport() const { return "test server " + server_.display + "\n" + ReadFile(dir_.path / "err"); }

  TempDir dir_;
  Xvfb server_;
  Player player_;
};

TEST_F(Unattended, FullScreenWindowCoversTheScreenInManualSizingMode) {
  const fs::path work = MakeInstallation();
  Start({"/usr/bin/orvante"}, work, {{"ORVANTE_FULLSCREEN", "1"}});
  EXPECT_TRUE(CoversScreen(server_, 20.0)) << StartReport();
  // SPACE: automatic sizing, the window takes the picture's size; SPACE again: full screen.
  TypeInPlayer(server_, "space");
  EXPECT_TRUE(WaitGeometry(server_, 20.0, [](const Geometry& g) { return g.w == 640 && g.h == 360; }));
  TypeInPlayer(server_, "space");
  EXPECT_TRUE(CoversScreen(server_, 20.0));
  EXPECT_EQ(player_.EndWithEscape(server_), 0);
}

TEST_F(Unattended, ExampleUnitAndAutostartEntryStartThePlayerInItsInstallation) {
  const fs::path examples = fs::path(ORVANTE_SOURCE_DIR) / "packaging";
  const fs::path work = MakeInstallation();
  const fs::path home = dir_.path / "home";

  // systemd user unit: %h is the user's home folder.
  std::map<std::string, std::string> env;
  std::string cwd, exec, restart;
  for (auto [k, v] : Entries(examples / "orvante.service")) {
    if (const auto h = v.find("%h"); h != std::string::npos) v.replace(h, 2, home.string());
    if (k == "WorkingDirectory") cwd = v;
    if (k == "ExecStart") exec = v;
    if (k == "Restart") restart = v;
    if (k == "Environment") env[v.substr(0, v.find('='))] = v.substr(v.find('=') + 1);
  }
  EXPECT_EQ(restart, "on-failure");
  EXPECT_EQ(env.count("DISPLAY"), 1u);
  ASSERT_EQ(fs::path(cwd), work);
  Start(Words(exec), cwd, env);
  EXPECT_TRUE(CoversScreen(server_, 20.0)) << StartReport();
  EXPECT_EQ(player_.EndWithEscape(server_), 0);
  const std::string unitOut = ReadFile(dir_.path / "out");
  EXPECT_NE(unitOut.find("Finished Reading ZAV Parameters from File : zav_env.dat"), std::string::npos);
  // Nobody presses q at an exhibition: the unit has the camera switched on at start.
  EXPECT_NE(unitOut.find("NOW, TURNING ON THE CAMERA DEVICE"), std::string::npos);

  // Autostart entry: Path is the installation's work folder, which the installer sets.
  std::vector<std::string> argv;
  std::map<std::string, std::string> entryEnv;
  for (const auto& [k, v] : Entries(examples / "orvante.desktop")) {
    if (k != "Exec") continue;
    argv = Words(v);
    if (!argv.empty() && argv[0] == "env") {
      argv.erase(argv.begin());
      while (!argv.empty() && argv[0].find('=') != std::string::npos) {
        entryEnv[argv[0].substr(0, argv[0].find('='))] = argv[0].substr(argv[0].find('=') + 1);
        argv.erase(argv.begin());
      }
    }
  }
  ASSERT_FALSE(argv.empty());
  EXPECT_EQ(argv[0], "/usr/bin/orvante");
  Start(argv, work, entryEnv);
  EXPECT_TRUE(CoversScreen(server_, 20.0)) << StartReport();
  EXPECT_EQ(player_.EndWithEscape(server_), 0);
}

}  // namespace
