// Writes the seed corpora of the fuzz targets: valid files of every kind the player reads,
// made the way the tests make them (the knowledge base by the player's own writer, the OSC
// bundle by the player's own sender), in the layout each target expects (see the head of each
// fuzz_*.cpp).
//   orvante-fuzz-seeds DIR  ->  DIR/<target>/seed-N; DIR/../fuzz-work/<target> emptied (the
//                               short runs' scratch corpus); DIR/../fuzz-artifacts made
#include <lo/lo.h>

#include <set>

#include "control/osc_state.h"
#include "control/env_items.h"
#include "control/osc.h"
#include "harness.h"
#include "kb/kb.h"
#include "kb/learning_state.h"
#include "player/player_state.h"

namespace {

using namespace orvfuzz;

fs::path out;

// The first seed of a target replaces what an earlier run left of its seeds and scratch corpus.
void Seed(const std::string& target, int n, const std::string& bytes) {
  static std::set<std::string> started;
  if (started.insert(target).second) {
    for (const fs::path& d : {out / target, out.parent_path() / "fuzz-work" / target}) {
      fs::remove_all(d);
      fs::create_directories(d);
    }
  }
  WriteBytes(out / target / ("seed-" + std::to_string(n)), bytes);
}

std::string Slurp(const std::string& name, size_t max = std::string::npos) {
  std::string s;
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return s;
  char buf[65536];
  size_t n;
  while (s.size() < max && (n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s.substr(0, max);
}

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

void KnowledgeBaseSeeds() {
  ResetEngine();
  orv::learn.SampleCount[0] = 2;
  orv::learn.RateLimit[0] = 0.5;
  if (!orv::EnsurePatternStore()) std::abort();
  for (int m = 0; m < 4; ++m)
    for (int s = 0; s < 2; ++s) {
      for (int i = 0; i < 64; ++i) orv::Patterns->Re[m][0][s][i] = 1.0 + i + s, orv::Patterns->Ps[m][0][s][i] = 2.0 + m;
      orv::PatternPresent[m][0][s] = 1;
      orv::learn.SampleHigh[m][0] = 2;
    }
  orv::WriteKB(orv::player.ContentNumber);
  const std::string f1 = Slurp("HOLVA_data-1-1.dat");
  const std::string f2 = Slurp("HOLVA_data-1-2.dat");
  const std::string f3 = Slurp("HOLVA_data-1-3.dat");
  const std::string f4 = Slurp("HOLVA_data-1-4.dat");
  const std::string head2 = f2.substr(0, 224 + 24 * 64);  // names and the first samples
  const std::string tail2 = f2.substr(f2.size() - kKbFile2Tail);  // RoiActive, SampleHigh
  const std::string sep(kKbSep);
  Seed("kb", 0, Byte(0) + f1);
  Seed("kb", 1, Byte(1) + head2);
  Seed("kb", 2, Byte(2) + f3);
  Seed("kb", 3, Byte(3) + f4.substr(0, 3 * 1040));
  Seed("kb", 4, Byte(4) + f1 + sep + head2 + sep + f3 + sep + f4.substr(0, 2 * 1040));
  Seed("kb", 5, Byte(5) + head2 + tail2);
}

void FrameIndexSeeds() {
  // A Windows-style link path in frame 1: the reader turns its backslashes.
  const std::string records = ThreeFrameRecords(R"(..\S001\clip_00002.jpg)");
  const std::string count(kCountSep);
  Seed("frame_index", 0, Byte(1) + records + count + "3");
  Seed("frame_index", 1, Byte(1) + records + count + "  2\r\n");
  Seed("frame_index", 2, Byte(0) + records.substr(0, 800));

  // The index tool: its list form (a Windows line end, a blank line, three fields) and a file.
  Seed("frame_list", 0, Byte(0) + "../S001/clip_00000.jpg\n../S001/clip_00001.jpg\tlink.jpg\r\n\n"
                                   "../S001/clip_00002.jpg\t\tattached.jpg\n");
  Seed("frame_list", 1, Byte(1) + records + count + "3");
}

// The parameter file the tests write: items 1..17, 1,280 key frames, additional parameters.
std::string EnvText(bool additional) {
  std::string t = "4 0 3 0.5 9600 1 1.0 3 1 4 0 120 1 2 1 1 0\n";
  for (int i = 0; i < 1280; ++i) t += i == 3 ? "2 " : "0 ";
  return t + (additional ? "\n0 2 1 0 1\n" : "\n");
}

void EnvSeeds() {
  std::string pivots(16, '\0');
  const int32_t entries[4] = {1, 0, 2, 0};
  std::memcpy(pivots.data(), entries, sizeof entries);
  const std::string sep(kNcxSep);
  Seed("env", 0, EnvText(true));
  Seed("env", 1, EnvText(false));
  Seed("env", 2, EnvText(true) + sep + kFullPivotTable + pivots);
  Seed("env", 3, "2 0 3 1.0 100 0 0.5 3 1 1 0 5 0 2 0 2 3\n" + sep + pivots);

  // The parameter-file editor reads the same files, and the ones its own writer makes.
  orv::EnvValues v{};
  v[0] = 2, v[3] = 0.5, v[4] = 9600, v[orv::kEnvFirstKeyFrame + 3] = 120.5, v[orv::kEnvFirstExtra + 1] = 40;
  Seed("env_items", 0, orv::EnvFileText(v));
  Seed("env_items", 1, EnvText(false));
  Seed("env_items", 2, "4 0 3 0.5\n9600 1 1.0 3 1 4 0 120 1 2 1 1 0 12 x\n");
}

void Put32(std::string* b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<char>(v >> s));
}

// A bundle (time tag "immediately") around the given elements.
std::string Bundle(const std::vector<std::string>& elements) {
  std::string b("#bundle\0", 8);
  Put32(&b, 0);
  Put32(&b, 1);
  for (const auto& e : elements) {
    Put32(&b, static_cast<uint32_t>(e.size()));
    b += e;
  }
  return b;
}

// What a player sends in a cycle, serialised by the player's own sender, and a single
// motion message as other OSC software sends it.
void OscSeeds() {
  ResetPlayer();
  orv::CloseOsc();
  orv::osc.Id = "hall-2";
  orv::player.CameraOn = 1;
  orv::player.CamChan = 5;
  orv::player.DifferenceSum = 15972;
  orv::player.frame_no = 1.5;
  orv::player.MaxCount = 3;
  orv::recog.JudgedGesture = 2;
  std::snprintf(orv::recog.JudgedName + 1, sizeof orv::recog.JudgedName - 1, "wave");
  orv::player.motion_count = 4;
  std::string bundle(2048, '\0');
  bundle.resize(orv::BuildOscBundle(bundle.data(), bundle.size()));
  if (bundle.empty()) std::abort();
  orv::recog = orv::RecognitionState{};

  lo_message m = lo_message_new();
  lo_message_add_string(m, "far");
  lo_message_add_int32(m, 7);
  lo_message_add_int32(m, 48000);
  lo_message_add_int32(m, 9600);
  size_t len = 0;
  void* bytes = lo_message_serialise(m, "/orvante/motion", nullptr, &len);
  const std::string motion(static_cast<const char*>(bytes), len);
  std::free(bytes);
  lo_message_free(m);

  Seed("osc_packet", 0, motion);
  Seed("osc_packet", 1, bundle);
  Seed("osc_packet", 2, Bundle({motion, Bundle({bundle})}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  out = fs::absolute(argv[1]);
  fs::create_directories(out);
  fs::create_directories(out.parent_path() / "fuzz-artifacts");
  MakeStage();
  {
    QuietStdout quiet;  // the writer's banners
    KnowledgeBaseSeeds();
  }
  FrameIndexSeeds();
  EnvSeeds();
  OscSeeds();
  Seed("camera_settings", 0, "0 0 1 100 1\n");
  Seed("camera_settings", 1, "1\n1\n3\n1\n0\nanything after the fifth number\n");
  Seed("threshold", 0, "11500");
  Seed("threshold", 1, "20\n");
  Seed("script", 0, "# rehearsal\n3 x\n1 RCLICK 10 20\n\n5 ESC\n5 #13\n");
  Seed("script", 1, "1 q\n2 MOVE 5 5\n2 LCLICK\n4 SPACE\n9 ENTER\n");
  std::printf("seeds written to %s\n", out.c_str());
  return 0;
}
