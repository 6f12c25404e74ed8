// Shared set-up of the motion-player tests: fresh state, headless display, and a
// working folder "work" beside a content folder "S001" and the home folder (the root).
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>

#include "../support/process.h"
#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "player/player.h"
#include "recognition/engine_setup.h"

namespace orvtest {

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::UseHeadlessDisplay();
    orv::app = orv::AppState{};
    orv::timer = orv::TimerState{};
    orv::control = orv::ControlState{};
    orv::learn = orv::LearningState{};
    orv::engine = orv::EngineSetup{};
    orv::learning = orv::LearningWork{};
    orv::player = orv::PlayerState{};
    orv::ReleaseFrameCache();
    std::memset(orv::FrameData.data(), 0, sizeof orv::FrameData);
    orv::player.Random.seed(1);
    work_ = dir_.path / "work";
    std::filesystem::create_directories(work_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);
  }
  void TearDown() override {
    orv::ReleaseFrameCache();
    std::filesystem::current_path(old_);
  }

  // Content of n frames in ../S001, registered in FrameData as a folder scan would.
  void UseContent(int n, int w = 64, int h = 48) {
    MakeContent(dir_.path, 0, n, w, h);
    for (int i = 0; i < n; ++i) {
      const std::string p = orv::ContentFramePath(0, i);
      std::snprintf(orv::FrameData[static_cast<size_t>(i)].path, orv::kNameSize, "%s", p.c_str());
      orv::FrameData[static_cast<size_t>(i)].loaded = 0;
    }
    orv::player.MaxCount = n;
  }

  TempDir dir_;
  std::filesystem::path work_, old_;
};

}  // namespace orvtest
