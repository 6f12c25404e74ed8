// Shared set-up of the fuzz targets: every target runs in a private stage folder
//   <stage>/work   (the working directory, where the player's files live)
//   <stage>/S001   (a content of three small frames)
// and writes the fuzzer's bytes into the file it reads, under the name the player uses.
// <stage> is /dev/shm/orvante-fuzz-<pid>-XXXXXX (memory: the player's fsyncs cost nothing),
// or the same under $TMPDIR or /tmp where /dev/shm is not writable.
//
// Because the working directory changes, corpus folders and -artifact_prefix must be given
// as absolute paths (the CTest and `make fuzz` runs do).
#pragma once
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "common/platform.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"
#include "recognition/recognition.h"
#include "support/quiet_stdout.h"
#include "player/motion.h"

namespace orvfuzz {

namespace fs = std::filesystem;

inline fs::path& StageRoot() {
  static fs::path root;
  return root;
}

inline void RemoveStage() {
  std::error_code ec;
  if (!StageRoot().empty()) fs::remove_all(StageRoot(), ec);
}

inline void WriteBytes(const fs::path& p, std::string_view bytes) {
  std::FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) std::abort();  // the stage is the harness's own; failing here is a harness fault
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

// A file of `size` bytes: `head` at its start, zeros (a hole) up to `size`, then `tail`.
inline void WriteSparse(const fs::path& p, std::string_view head, size_t size, std::string_view tail) {
  std::FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) std::abort();
  if (head.size() > size) head = head.substr(0, size);
  if (!head.empty()) std::fwrite(head.data(), 1, head.size(), f);
  std::fflush(f);
  if (::ftruncate(::fileno(f), static_cast<off_t>(size)) != 0) std::abort();
  std::fseek(f, 0, SEEK_END);
  if (!tail.empty()) std::fwrite(tail.data(), 1, tail.size(), f);
  std::fclose(f);
}

// Splits at the first occurrence of sep: {before, after}; no sep: {all, npos-marker}.
inline bool SplitAt(std::string_view all, std::string_view sep, std::string_view* a, std::string_view* b) {
  const size_t at = all.find(sep);
  if (at == std::string_view::npos) {
    *a = all;
    *b = {};
    return false;
  }
  *a = all.substr(0, at);
  *b = all.substr(at + sep.size());
  return true;
}

// What a set-up failure of the player (EndProcess) becomes inside a fuzz target: the player
// refused its input with a message and would end, which is a sound outcome, not a finding.
struct ProcessEnded {
  int code;
};
[[noreturn]] inline void ThrowProcessEnded(int code) { throw ProcessEnded{code}; }

// Runs one input's work; a refusal that ends the player ends only this input.
template <typename F>
void Guarded(F&& work) {
  try {
    work();
  } catch (const ProcessEnded&) {
  }
}

// Stages of earlier runs whose process is gone (a crash ends a run without its exit handlers).
inline void RemoveStaleStages(const fs::path& dir) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("orvante-fuzz-", 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + 13, nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), ec);
  }
}

// Makes the stage, enters its work folder, silences the library, runs the player headless.
inline void MakeStage() {
  fs::path dir = "/dev/shm";
  if (::access(dir.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    dir = tmp && *tmp ? tmp : "/tmp";
  }
  RemoveStaleStages(dir);
  std::string tmpl = (dir / ("orvante-fuzz-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (!::mkdtemp(tmpl.data())) std::abort();
  StageRoot() = tmpl;
  std::atexit(RemoveStage);
  orv::SetProcessEndHook(ThrowProcessEnded);
  fs::create_directories(StageRoot() / "work");
  fs::create_directories(StageRoot() / "S001");
  for (int i = 0; i < 3; ++i) {
    cv::Mat img(24, 32, CV_8UC3, cv::Scalar(40 * i, 90, 200 - 50 * i));
    char name[32];
    std::snprintf(name, sizeof name, "clip_%05d.jpg", i);
    cv::imwrite((StageRoot() / "S001" / name).string(), img);
  }
  fs::current_path(StageRoot() / "work");
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  orv::UseHeadlessDisplay();
  orv::display.hd.copyShown = false;
}

// A private shared section whose name is gone as soon as it is mapped.
inline void OpenPrivateSection() {
  const std::string name = "/orvante-fuzz-" + std::to_string(::getpid());
  ::setenv("ORVANTE_SHM_NAME", name.c_str(), 1);
  orv::OpenSharedMemory();
  orv::RemoveSharedSections(name);
}

// Camera frames that alternate between a dark and a bright square: motion every capture.
inline std::vector<cv::Mat> MotionFrames() {
  std::vector<cv::Mat> frames;
  for (int i = 0; i < 4; ++i) {
    cv::Mat f(orv::kCamH, orv::kCamW, CV_8UC3, cv::Scalar::all(20));
    cv::rectangle(f, {40 + 30 * i, 60}, {120 + 30 * i, 140}, cv::Scalar::all(230), cv::FILLED);
    frames.push_back(f);
  }
  return frames;
}

// Player state back to its documented defaults; the section mapping is kept.
inline void ResetPlayer() {
  volatile int32_t* view = orv::player.SharedView;
  orv::app = orv::AppState{};
  orv::timer = orv::TimerState{};
  orv::player = orv::PlayerState{};
  orv::player.SharedView = view;
  orv::player.CameraPreview = cv::Mat(orv::kGriH, orv::kGriW, CV_8UC1, cv::Scalar(0));  // as the set-up makes it
  orv::control = orv::ControlState{};
  orv::display.hd.script.clear();
  orv::display.cycle = 0;
}

// The engine as the main loop's set-up leaves it before any knowledge base is read.
inline void ResetEngine() {
  orv::ReleaseAllPatterns();
  orv::learn = orv::LearningState{};
  orv::engine = orv::EngineSetup{};
  orv::learning = orv::LearningWork{};
  orv::recog = orv::RecognitionState{};
  std::memset(&orv::SampleTable, 0, sizeof orv::SampleTable);
  orv::ResetRecognition();
  for (int g = 0; g < orv::kGestures; ++g) orv::InitGestureSlot(g);
  orv::learn.NEROI = 32;
  orv::learn.SKIP = 1.0;
  orv::learn.RSKIP = 1.0;
  orv::FillDirectionTables();
  orv::BuildKernelTables();
  orv::ResetEngineCaches();
  orv::ResetGestureTables();
  orv::ResetResultBlock();
  orv::ResetTemplates();
}

// Separators of the inputs that carry more than one file; the seed writer joins its seeds with
// the same ones. Frame index and frame list: the records, then the frame count text.
constexpr std::string_view kCountSep = "\n==COUNT==\n";
// Knowledge base: files 1..4 in one input.
constexpr std::string_view kKbSep = "\n==ORVANTE-KB==\n";
// Parameter file: the parameter file, then the key-frame file (a leading kFullPivotTable
// places it at the start of a full-size table).
constexpr std::string_view kNcxSep = "\n==NCX==\n";
constexpr char kFullPivotTable = 'F';
// Knowledge-base file 2's last bytes (RoiActive, SampleHigh), which an input of full size keeps.
constexpr size_t kKbFile2Tail = 1152;

// The size of a frame index file's records block: every frame slot, used or not.
constexpr size_t kIndexBlock = static_cast<size_t>(orv::kMaxFrames) * sizeof(orv::FrameRecord);

// Records of a valid index of the stage's three frames: frame 1 has a link picture (`http`, as
// given), frame 2 an attached file.
inline std::string ThreeFrameRecords(const char* http = "../S001/clip_00002.jpg") {
  std::string out;
  for (int i = 0; i < 3; ++i) {
    orv::FrameRecord r{};
    std::snprintf(r.path, sizeof r.path, "../S001/clip_%05d.jpg", i);
    if (i == 1) std::snprintf(r.http, sizeof r.http, "%s", http);
    if (i == 2) std::snprintf(r.file, sizeof r.file, "../S001/clip_00000.jpg");
    out.append(reinterpret_cast<const char*>(&r), sizeof r);
  }
  return out;
}

// Keys of the command step, one per cycle, as an operator would press them.
inline void ScriptKeys(const std::string& keys) {
  long cycle = 1;
  for (char k : keys) orv::display.hd.script.push_back({cycle++, static_cast<unsigned char>(k), 0, 0, 0});
}

}  // namespace orvfuzz
