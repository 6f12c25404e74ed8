// The parameter-file editor's reader (orvante-env): the file as the loader sees it, with the
// span of every number, and items set in place.
//
// Input: the parameter file. Every item read has a span that holds exactly that number;
// setting items changes those items and no other, and never shifts the items after them.
#include <cmath>

#include "control/env_items.h"
#include "harness.h"

namespace {

using namespace orvfuzz;

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void CheckDocument(const orv::EnvDocument& d) {
  if (d.values.size() != d.spans.size() || d.values.size() > static_cast<size_t>(orv::kEnvItemCount)) std::abort();
  size_t prev = 0;
  for (size_t i = 0; i < d.spans.size(); ++i) {
    const auto [b, e] = d.spans[i];
    if (b < prev || e <= b || e > d.text.size()) std::abort();
    double v = 0.0;
    // The span alone is that item's number, read the loader's way.
    if (!orv::ParseEnvValue(static_cast<int>(i), d.text.substr(b, e - b), &v) || !Same(v, d.values[i])) std::abort();
    prev = e;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBytes("zav_env0001.dat", std::string_view(reinterpret_cast<const char*>(data), size));
  orv::EnvDocument doc;
  std::string err;
  if (!orv::ReadEnvFile("zav_env0001.dat", &doc, &err)) return 0;
  CheckDocument(doc);

  // SampleStep, a key frame and flip_mode, as `orvante-env FILE NAME=VALUE ...` sets them.
  const std::vector<std::pair<int, std::string>> set = {
      {0, "2"}, {orv::kEnvFirstKeyFrame + 5, "12.5"}, {orv::kEnvFirstExtra + 4, "1"}};
  orv::EnvDocument after = doc;
  if (!orv::SetEnvItems(&after, set, &err)) {
    if (after.text != doc.text) std::abort();  // a refusal leaves the document as it was
    return 0;
  }
  CheckDocument(after);
  for (size_t i = 0; i < after.values.size(); ++i) {
    double want = 0.0;
    bool isSet = false;
    for (const auto& [item, text] : set)
      if (static_cast<size_t>(item) == i) isSet = orv::ParseEnvValue(item, text, &want);
    if (isSet ? !Same(after.values[i], want)
              : (i < doc.values.size() ? !Same(after.values[i], doc.values[i]) : after.values[i] != 0.0))
      std::abort();
  }
  // Every item set is now read by the loader.
  for (const auto& [item, text] : set)
    if (static_cast<size_t>(item) >= after.values.size()) std::abort();
  return 0;
}
