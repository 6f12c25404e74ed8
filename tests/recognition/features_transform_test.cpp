#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

#include "kb/learning_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"
#include "engine_fixture.h"

using namespace orv;

class SignatureTransform : public orvtest::EngineTest {};
class DirectionTables : public orvtest::EngineTest {};

namespace {

// The transform's angle unit, 3.141592653 / 32 (stored spectra are made with it).
constexpr double kUnit = 0.09817477040625;

// X[k] = sum of x[n] e^(-i u (kn mod 64)), term by term.
std::array<std::complex<double>, 64> DirectDft(const std::array<std::complex<double>, 64>& x) {
  std::array<std::complex<double>, 64> out{};
  for (int k = 0; k < 64; ++k)
    for (int n = 0; n < 64; ++n) out[k] += x[n] * std::polar(1.0, -kUnit * ((k * n) % 64));
  return out;
}

}  // namespace

TEST_F(SignatureTransform, AgreesWithADirectDftOfTheSameAngleUnit) {
  // The butterflies turn by an exact half turn where 32 units fall 5.9e-10 short of it, so the
  // network and the term-by-term sum part at that level of the input's scale, no further.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 50; ++trial) {
    std::array<std::complex<double>, 64> x;
    double scale = 0.0;
    for (auto& v : x) v = {u(rng), trial % 2 ? u(rng) : 0.0}, scale += std::abs(v);
    recog.Signature = x;
    TransformSignature();
    const auto want = DirectDft(x);
    for (int k = 0; k < 64; ++k) {
      ASSERT_LT(std::abs(recog.Signature[k] - want[k]), 1e-9 * scale) << trial << " " << k;
      ASSERT_NEAR(recog.GcRecord.Ps[k], std::abs(want[k]), 1e-9 * scale);
    }
  }
}

TEST_F(SignatureTransform, TwiddlesAreMultiplesOfTheAngleUnit) {
  // One direction away from the start: each output k < 32 is a single twiddle, e^(-i k u).
  // A quarter turn of 16 units is not quite one: its cosine is 2.9e-10, not 0.
  std::array<std::complex<double>, 64> x{};
  x[1] = {1.0, 0.0};
  recog.Signature = x;
  TransformSignature();
  for (int k = 0; k < 32; ++k) {
    ASSERT_NEAR(recog.Signature[k].real(), std::cos(k * kUnit), 1e-15) << k;
    ASSERT_NEAR(recog.Signature[k].imag(), -std::sin(k * kUnit), 1e-15) << k;
  }
  EXPECT_NEAR(recog.Signature[16].real(), 2.949e-10, 1e-13);
}

TEST_F(SignatureTransform, OneNonzeroDirectionGivesAFlatSpectrum) {
  for (int dir : {0, 1, 17, 63}) {
    recog.Signature.fill({0.0, 0.0});
    recog.Signature[dir] = {3.25, 0.0};
    TransformSignature();
    for (int k = 0; k < 64; ++k) ASSERT_NEAR(recog.GcRecord.Ps[k], 3.25, 1e-12) << dir << " " << k;
  }
}

TEST_F(SignatureTransform, FirstMagnitudeIsTheSumOfTheSignature) {
  learn.SKIP = 1.0;
  FillDirectionTables();
  for (int b = 0; b < 1000; ++b) engine.RadialWeight[b] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1e6);
  std::mt19937 rng(3);
  for (int i = 0; i < kGriPixels; ++i) recog.FeatureMap[2].pixel[i] = (rng() % 3 == 0) ? 7 : 0;
  recog.WholeImageRadius = 50;
  BeginFrameViews();
  GetGC(12);
  ASSERT_EQ(RadialSignature(), 0);
  double sum = 0;
  for (double v : recog.GcRecord.Re) sum += v;
  EXPECT_NEAR(recog.GcRecord.Ps[0], sum, 1e-9 * sum);
  // A real signature has a mirrored spectrum.
  for (int k = 1; k < 64; ++k) EXPECT_NEAR(recog.GcRecord.Ps[k], recog.GcRecord.Ps[64 - k], 1e-9 * sum);
}

TEST_F(SignatureTransform, TwiddlesAreComputedOncePerCacheSlot) {
  ResetEngineCaches();
  recog.Signature.fill({1.0, 0.0});
  TransformSignature();
  int used = 0;
  for (int i = 0; i < kTrigCache; ++i) used += recog.CosCache[i] != -999.0;
  EXPECT_EQ(used, 32);  // the 32 distinct twiddle angles of a 64-point transform
  // Later transforms read the cache: a planted value shows up in the result.
  const int key = int(16 * kUnit * recog.CacheScale);  // the quarter-turn twiddle
  ASSERT_NE(recog.SinCache[key], -999.0);
  std::array<std::complex<double>, 64> x{};
  x[1] = {1.0, 0.0};
  x[2] = {0.5, 0.0};
  recog.Signature = x;
  TransformSignature();
  const auto before = recog.Signature;
  recog.SinCache[key] = 0.0;  // a wrong sine of the quarter turn
  recog.Signature = x;
  TransformSignature();
  EXPECT_NE(recog.Signature, before);
}

TEST_F(DirectionTables, FollowTheAngleAndScaleWithSkip) {
  learn.SKIP = 2.0;
  FillDirectionTables();
  EXPECT_DOUBLE_EQ(recog.StepX[0], 2.0);
  EXPECT_DOUBLE_EQ(recog.StepY[0], 0.0);
  EXPECT_NEAR(recog.StepX[16], 0.0, 1e-9);
  EXPECT_NEAR(recog.StepY[16], 2.0, 1e-12);
  EXPECT_NEAR(recog.StepX[32], -2.0, 1e-12);
  EXPECT_NEAR(recog.StepY[48], -2.0, 1e-12);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(std::hypot(recog.StepX[i], recog.StepY[i]), 2.0, 1e-12);
}
