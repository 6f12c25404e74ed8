// Motion measure and the memory section shared by the copies running on this machine.
#include <endian.h>
#include <signal.h>
#include <sys/mman.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/platform.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "player/motion.h"

namespace orv {

namespace {

constexpr int kCamWords = 32;  // words 1..32: one per camera number

[[noreturn]] void SharedFailure(const char* message, const std::string& name, const std::string& why) {
  std::printf("%s\n", message);
  std::fprintf(stderr, "ERROR: shared memory [%s]: %s\n", name.c_str(), why.c_str());
  EndProcess(player.SetUpFailureExit);
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
  volatile int32_t* view = player.SharedView;
  const int word = player.PublishedWord;
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

// Maps one of the two sections, or ends the program as an unusable section always has.
volatile void* MapOrEnd(const std::string& name, int bytes) {
  std::string why;
  bool mapping = false;
  volatile void* view = MapSharedSection(name, static_cast<size_t>(bytes), &why, &mapping);
  if (!view) {
    const bool ja = JapaneseMessages();
    SharedFailure(mapping ? (ja ? "共有メモリマッピング失敗" : "shared memory could not be mapped")
                          : (ja ? "共有メモリオープン失敗" : "shared memory could not be opened"),
                  name, why);
  }
  return view;
}

constexpr int kPidBits = 22;  // process ids stay below 2^22 (the kernel's largest pid_max)
constexpr uint64_t kPidMask = (uint64_t{1} << kPidBits) - 1;

uint64_t AliveRecord(int pid, uint64_t start) { return (start << kPidBits) | (static_cast<uint64_t>(pid) & kPidMask); }

bool WriterRuns(uint64_t record) {
  const int pid = static_cast<int>(record & kPidMask);
  return AliveRecord(pid, ProcessStartTime(pid)) == record;
}

// Words whose recorded writer has ended count 0: in the mirror, and (whoever notices first) in
// the section, with word 0 formed again, so that a killed or crashed copy stops driving the
// others. Records stay: a reader that copied the dead value in before it was cleared finds the
// record again and does not write the value back.
void DropDeadWriters() {
  if (!player.AliveView) return;
  bool dropped = false;
  for (int c = 0; c < kAliveRecords; ++c) {
    const size_t word = static_cast<size_t>(1 + c);
    if (player.SharedMirror[word] == 0) continue;
    const uint64_t record = le64toh(player.AliveView[c]);
    if (record == 0 || record == player.OwnAliveRecord || WriterRuns(record)) continue;
    player.SharedMirror[word] = 0;
    player.SharedView[word] = 0;
    dropped = true;
  }
  if (!dropped) return;
  player.SharedMirror[0] = SumOfCameraWords(player.SharedMirror.data());
  player.SharedView[0] = static_cast<int32_t>(htole32(static_cast<uint32_t>(player.SharedMirror[0])));
}

}  // namespace

std::string SharedMemoryName() {
  std::string name = EnvOr("ORVANTE_SHM_NAME", "");
  if (name.empty()) name = "RWT_SHARED_MEMORY";
  if (name[0] != '/') name.insert(name.begin(), '/');
  return name;
}

std::string AliveSectionName() { return SharedMemoryName() + ".alive"; }

void RemoveSharedSections(const std::string& name) {
  RemoveSharedSection(name);
  RemoveSharedSection(name + ".alive");
}

void OpenSharedMemory() {
  if (player.PrivateSection) {
    // Nameless: no other process can reach it, and nothing is left behind.
    void* view = ::mmap(nullptr, static_cast<size_t>(player.SharedSize), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (view == MAP_FAILED) SharedFailure("共有メモリマッピング失敗", "private", std::strerror(errno));
    UnmapSharedSection(player.SharedView, static_cast<size_t>(player.SharedSize));
    UnmapSharedSection(player.AliveView, static_cast<size_t>(kAliveSize));
    player.SharedView = static_cast<volatile int32_t*>(view);
    player.AliveView = nullptr;  // nobody else can write into it: no writer to record
    player.PublishedWord = 0;
    return;
  }
  volatile void* view = MapOrEnd(SharedMemoryName(), player.SharedSize);
  volatile void* alive = MapOrEnd(AliveSectionName(), kAliveSize);
  UnmapSharedSection(player.SharedView, static_cast<size_t>(player.SharedSize));
  UnmapSharedSection(player.AliveView, static_cast<size_t>(kAliveSize));
  player.SharedView = static_cast<volatile int32_t*>(view);
  player.AliveView = static_cast<volatile uint64_t*>(alive);
  const uint64_t start = ProcessStartTime(OwnProcessId());
  player.OwnAliveRecord = AliveRecord(OwnProcessId(), start);
  if (start == 0) {
    // No process table to ask (no /proc): every writer would look ended. Without liveness
    // records the words count as they always did.
    UnmapSharedSection(player.AliveView, static_cast<size_t>(kAliveSize));
    player.AliveView = nullptr;
  }

  // A copy that starts clears every published value; running copies publish again next cycle.
  CopySharedIn();
  for (int i = 0; i <= kCamWords; ++i) player.SharedMirror[static_cast<size_t>(i)] = 0;
  CopySharedOut();
  player.PublishedWord = 0;
  InstallWithdrawal();
}

void ClaimSharedWord(int word) {
  if (!player.AliveView || word < 1 || word > kAliveRecords) return;
  volatile uint64_t& record = player.AliveView[word - 1];
  const uint64_t own = htole64(player.OwnAliveRecord);
  if (record != own) record = own;
}

void WithdrawMotion() {
  const int word = player.PublishedWord;
  player.PublishedWord = 0;
  if (!player.SharedView || word < 1 || word > kCamWords) return;
  CopySharedIn();
  player.SharedMirror[static_cast<size_t>(word)] = 0;
  player.SharedMirror[0] = SumOfCameraWords(player.SharedMirror.data());
  CopySharedOut();
}

void CopySharedIn() {
  if (!player.SharedView) return;
  for (int i = 0; i < kSharedWords; ++i)
    player.SharedMirror[static_cast<size_t>(i)] =
        static_cast<int32_t>(le32toh(static_cast<uint32_t>(player.SharedView[i])));
  DropDeadWriters();
}

void CopySharedOut() {
  if (!player.SharedView) return;
  for (int i = 0; i < kSharedWords; ++i)
    player.SharedView[i] = static_cast<int32_t>(htole32(static_cast<uint32_t>(player.SharedMirror[static_cast<size_t>(i)])));
}

int GreyDifferenceSum() {
  const int s = player.SampleStep >= 1 ? player.SampleStep : 1;
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
  const int s = player.SampleStep >= 1 ? player.SampleStep : 1;
  return ((kCamH + s - 1) / s) * ((kCamW + s - 1) / s);
}

void MeasureMotion() {
  player.DifferenceSum = 0;
  if (player.CameraOn == 0) {
    if (player.VR_threshold == player.ZAV_threshold) {
      CopySharedIn();
      player.DifferenceSum = player.SharedMirror[0];
    }
    // Nothing stale is compared when the camera comes back.
    for (auto& g : recog.GrayFrame) g.fill(0);
    recog.GrayFrameCopy.fill(0);
    for (auto& g : player.GrayFrames) g.fill(0);
    return;
  }

  player.DifferenceSum = GreyDifferenceSum();

  CopySharedIn();
  if (player.CamChan >= 0 && player.CamChan < kCamWords) {
    player.PublishedWord = 1 + player.CamChan;
    ClaimSharedWord(player.PublishedWord);
    player.SharedMirror[static_cast<size_t>(player.PublishedWord)] = player.DifferenceSum;
  }
  player.SharedMirror[0] = SumOfCameraWords(player.SharedMirror.data());
  CopySharedOut();
}

}  // namespace orv
