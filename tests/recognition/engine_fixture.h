// Shared set-up of the engine tests: every test starts from the documented defaults.
#pragma once
#include <gtest/gtest.h>

#include <cmath>

#include "common/learning_state.h"
#include "common/recognition_state.h"
#include "recognition/recognition.h"

namespace orvtest {

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    orv::recog = orv::RecognitionState{};
    orv::learn = orv::LearningState{};
    orv::ReleaseAllPatterns();
    orv::FillDirectionTables();
    for (int b = 0; b < 1000; ++b)
      orv::learn.RadialWeight[b] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1e6);
  }
};

}  // namespace orvtest
