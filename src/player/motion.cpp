// Motion measure and the memory section shared by the copies running on this machine.
#include <endian.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/app_state.h"
#include "common/control_state.h"
#include "common/platform.h"
#include "common/player_state.h"
#include "common/recognition_state.h"
#include "player/motion.h"

namespace orv {

namespace {

constexpr int kCamWords = 32;  // words 1..32: one per camera number

[[noreturn]] void SharedFailure(const char* message, const std::string& name, const std::string& why) {
  std::printf("%s\n", message);
  std::fprintf(stderr, "ERROR: shared memory [%s]: %s\n", name.c_str(), why.c_str());
  EndProcess(app.SetUpFailureExit);
}

// Word 0 is the 32-bit wrap-around sum of words 1..32.
int32_t SumOfCameraWords(const int32_t* w) {
  uint32_t total = 0;
  for (int i = 1; i <= kCamWords; ++i) total += static_cast<uint32_t>(w[i]);
  return static_cast<int32_t>(total);
}

// A copy ended by a signal (Ctrl-C, a service stop, a crash) withdraws its value too.
// Only the mapped words are touched here, nothing that could be half-changed by the code
// the signal interrupted.
std::array<struct sigaction, 32> PreviousAction{};
constexpr std::array<int, 9> kEndSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT,
                                            SIGSEGV, SIGBUS, SIGFPE, SIGILL};

void WithdrawOnSignal(int sig, siginfo_t* info, void*) {
  volatile int32_t* view = app.SharedView;
  const int word = app.PublishedWord;
  if (view && word >= 1 && word <= kCamWords) {
    view[word] = 0;
    uint32_t total = 0;
    for (int i = 1; i <= kCamWords; ++i) total += le32toh(static_cast<uint32_t>(view[i]));
    view[0] = static_cast<int32_t>(htole32(total));
  }
  // The previous disposition (default, or a sanitizer's report) takes over. A fault
  // raised by the hardware repeats when the handler returns; anything else is raised again.
  ::sigaction(sig, &PreviousAction[static_cast<size_t>(sig)], nullptr);
  const bool fault = (sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL) && info &&
                     info->si_code > 0;
  if (!fault) ::raise(sig);
}

void WithdrawAtExit() { WithdrawMotion(); }

void InstallWithdrawal() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(WithdrawAtExit);
  struct sigaction act {};
  act.sa_sigaction = WithdrawOnSignal;
  act.sa_flags = SA_SIGINFO;
  sigemptyset(&act.sa_mask);
  for (int sig : kEndSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) continue;
    // A signal the caller chose to ignore stays ignored.
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) continue;
    PreviousAction[static_cast<size_t>(sig)] = old;
    ::sigaction(sig, &act, nullptr);
  }
}

[[noreturn]] void OpenFailure(const std::string& name, const std::string& why) {
  SharedFailure(JapaneseMessages() ? "共有メモリオープン失敗" : "shared memory could not be opened", name, why);
}

}  // namespace

std::string SharedMemoryName() {
  std::string name = EnvOr("ORVANTE_SHM_NAME", "");
  if (name.empty()) name = "RWT_SHARED_MEMORY";
  if (name[0] != '/') name.insert(name.begin(), '/');
  return name;
}

void OpenSharedMemory() {
  if (app.PrivateSection) {
    // Nameless: no other process can reach it, and nothing is left behind.
    void* view = ::mmap(nullptr, static_cast<size_t>(app.SharedSize), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (view == MAP_FAILED) SharedFailure("共有メモリマッピング失敗", "private", std::strerror(errno));
    if (app.SharedView) ::munmap(const_cast<int32_t*>(app.SharedView), static_cast<size_t>(app.SharedSize));
    app.SharedView = static_cast<volatile int32_t*>(view);
    app.PublishedWord = 0;
    return;
  }
  const std::string name = SharedMemoryName();
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) OpenFailure(name, std::strerror(errno));

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    OpenFailure(name, std::strerror(e));
  }
  // A section of another user could be read or changed by that user: never use it.
  if (st.st_uid != ::geteuid()) {
    ::close(fd);
    OpenFailure(name, "the section belongs to another user");
  }
  // The umask may have narrowed or widened the creation mode; only this user may use it.
  if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
    const int e = errno;
    ::close(fd);
    OpenFailure(name, std::string("cannot set mode 0600: ") + std::strerror(e));
  }
  // Size 0: just created, here or by a copy starting at the same moment; both size it alike.
  if (st.st_size == 0 && ::ftruncate(fd, app.SharedSize) != 0) {
    const int e = errno;
    ::close(fd);
    OpenFailure(name, std::strerror(e));
  }
  if (st.st_size != 0 && st.st_size != app.SharedSize) {
    ::close(fd);
    OpenFailure(name, "existing section has " + std::to_string(static_cast<long long>(st.st_size)) +
                          " bytes instead of " + std::to_string(app.SharedSize));
  }

  void* view = ::mmap(nullptr, static_cast<size_t>(app.SharedSize), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int e = errno;
  ::close(fd);  // the mapping stays valid for the life of the process
  if (view == MAP_FAILED) SharedFailure(JapaneseMessages() ? "共有メモリマッピング失敗" : "shared memory could not be mapped", name,
                                         std::strerror(e));
  if (app.SharedView) ::munmap(const_cast<int32_t*>(app.SharedView), static_cast<size_t>(app.SharedSize));
  app.SharedView = static_cast<volatile int32_t*>(view);

  // A copy that starts clears every published value; running copies publish again next cycle.
  CopySharedIn();
  for (int i = 0; i <= kCamWords; ++i) app.SharedMirror[static_cast<size_t>(i)] = 0;
  CopySharedOut();
  app.PublishedWord = 0;
  InstallWithdrawal();
}

void WithdrawMotion() {
  const int word = app.PublishedWord;
  app.PublishedWord = 0;
  if (!app.SharedView || word < 1 || word > kCamWords) return;
  CopySharedIn();
  app.SharedMirror[static_cast<size_t>(word)] = 0;
  app.SharedMirror[0] = SumOfCameraWords(app.SharedMirror.data());
  CopySharedOut();
}

void CopySharedIn() {
  if (!app.SharedView) return;
  for (int i = 0; i < kSharedWords; ++i)
    app.SharedMirror[static_cast<size_t>(i)] =
        static_cast<int32_t>(le32toh(static_cast<uint32_t>(app.SharedView[i])));
}

void CopySharedOut() {
  if (!app.SharedView) return;
  for (int i = 0; i < kSharedWords; ++i)
    app.SharedView[i] = static_cast<int32_t>(htole32(static_cast<uint32_t>(app.SharedMirror[static_cast<size_t>(i)])));
}

int GreyDifferenceSum() {
  const int s = control.SampleStep >= 1 ? control.SampleStep : 1;
  const uint8_t* a = player.GrayFrames[0].data();
  const uint8_t* b = player.GrayFrames[1].data();
  int sum = 0;
  for (int y = 0; y < kCamH; y += s) {
    const uint8_t* ra = a + y * kCamW;
    const uint8_t* rb = b + y * kCamW;
    for (int x = 0; x < kCamW; x += s) sum += std::abs(ra[x] - rb[x]);
  }
  return sum;
}

int SamplePoints() {
  const int s = control.SampleStep >= 1 ? control.SampleStep : 1;
  return ((kCamH + s - 1) / s) * ((kCamW + s - 1) / s);
}

void MeasureMotion() {
  app.DifferenceSum = 0;
  if (player.CameraOn == 0) {
    if (control.VR_threshold == control.ZAV_threshold) {
      CopySharedIn();
      app.DifferenceSum = app.SharedMirror[0];
    }
    // Nothing stale is compared when the camera comes back.
    for (auto& g : recog.GrayFrame) g.fill(0);
    recog.GrayFrameCopy.fill(0);
    for (auto& g : player.GrayFrames) g.fill(0);
    return;
  }

  app.DifferenceSum = GreyDifferenceSum();

  CopySharedIn();
  if (control.CamChan >= 0 && control.CamChan < kCamWords) {
    app.PublishedWord = 1 + control.CamChan;
    app.SharedMirror[static_cast<size_t>(app.PublishedWord)] = app.DifferenceSum;
  }
  app.SharedMirror[0] = SumOfCameraWords(app.SharedMirror.data());
  CopySharedOut();
}

}  // namespace orv
