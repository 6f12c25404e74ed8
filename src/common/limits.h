// Fixed capacities and sizes of the system's tables.
#pragma once

namespace orv {

constexpr int kMaxFrames = 22000;        // frames per content, command-line slots, per-frame tables
constexpr int kNameSize = 250;           // bytes of one ArgName slot and one FrameData string
constexpr int kKeyFrames = 1280;         // key-frame ring
constexpr int kGestures = 8;
constexpr int kViews = 32;               // view points
constexpr int kSeqFrames = 200;          // frames per motion sequence, samples per gesture and view
constexpr int kPatternRecords = kViews * kGestures * kSeqFrames;  // 51,200

constexpr int kCamW = 320;               // ZAV_F_XMAX
constexpr int kCamH = 240;               // ZAV_F_YMAX
constexpr int kCamPixels = kCamW * kCamH;
constexpr int kGriW = 80;                // recognizer frame
constexpr int kGriH = 60;
constexpr int kGriPixels = kGriW * kGriH;

constexpr int kCalibrationValues = 4096;  // still and moving values kept for the calibration

constexpr int kSharedWords = 256;        // words of the shared section
constexpr int kSharedSize = 1024;
constexpr int kAliveRecords = 32;       // liveness records, one per camera word 1..32
constexpr int kAliveSize = kAliveRecords * 8;

inline constexpr const char* kPlayerWindow = "ORVANTE  Ver.1.1";
inline constexpr const char* kPreviewWindow = "処理中の画像";

// --- sentinels of the recognizer's results ---
// Their values never change: they are published in the shared section, written into replay
// traces and compared by peers.
constexpr int kNoResult = -999;       // JudgeMap made no judgement: the frame does not count
constexpr int kCannotUse = -999;      // this view point or region cannot be used (Discriminate, PreGetGC)
constexpr int kUnset = -4;            // a result-block field (PHASE, SPEED, ...) after its reset
constexpr int kNoJudgement = -2;      // JudgedGesture when nothing was judged in this cycle
constexpr int kJudgementFailed = -3;  // JudgedGesture when a judgement was tried and failed

constexpr int kKeyEsc = 27;
constexpr int kKeyEnter = 13;
constexpr int kNoKey = 255;

}  // namespace orv
