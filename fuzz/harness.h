// Shared set-up of the fuzz targets: every target runs in a private stage folder
//   <tmp>/orvante-fuzz-XXXXXX/work   (the working directory, where the player's files live)
//   <tmp>/orvante-fuzz-XXXXXX/S001   (a content of three small frames)
// and writes the fuzzer's bytes into the file it reads, under the name the player uses.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

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

#include "app/app.h"
#include "common/app_state.h"
#include "common/control_state.h"
#include "common/display.h"
#include "common/learning_state.h"
#include "common/platform.h"
#include "common/player_state.h"
#include "common/recognition_state.h"
#include "control/control.h"
#include "learning/learning.h"
#include "player/player.h"
#include "recognition/recognition.h"

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

// Makes the stage, enters its work folder, silences the library, runs the player headless.
inline void MakeStage() {
  char tmpl[] = "/tmp/orvante-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl)) std::abort();
  StageRoot() = tmpl;
  std::atexit(RemoveStage);
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
  ::shm_unlink(name.c_str());
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
  volatile int32_t* view = orv::app.SharedView;
  orv::app = orv::AppState{};
  orv::app.SharedView = view;
  orv::player = orv::PlayerState{};
  orv::control = orv::ControlState{};
  orv::display.hd.script.clear();
  orv::display.cycle = 0;
}

// The engine as the main loop's set-up leaves it before any knowledge base is read.
inline void ResetEngine() {
  orv::ReleaseAllPatterns();
  orv::learn = orv::LearningState{};
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

// Keys of the command step, one per cycle, as an operator would press them.
inline void ScriptKeys(const std::string& keys) {
  long cycle = 1;
  for (char k : keys) orv::display.hd.script.push_back({cycle++, static_cast<unsigned char>(k), 0, 0, 0});
}

}  // namespace orvfuzz
