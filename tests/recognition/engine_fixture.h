// Shared set-up of the engine tests: every test starts from the documented defaults.
#pragma once
#include <gtest/gtest.h>

#include <cmath>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"

namespace orvtest {

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    orv::recog = orv::RecognitionState{};
    orv::learn = orv::LearningState{};
    orv::engine = orv::EngineSetup{};
    orv::learning = orv::LearningWork{};
    orv::ReleaseAllPatterns();
    orv::FillDirectionTables();
    for (int b = 0; b < 1000; ++b)
      orv::engine.RadialWeight[b] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1e6);
  }
};

}  // namespace orvtest
