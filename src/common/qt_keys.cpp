// Keys of the real window as typed. highgui's own key code is the key's unshifted letter
// (Shift+V arrives as v) and a modifier pressed alone arrives as a key of its own, so the
// toolkit's key events are read here instead: an application-wide event filter takes every
// key press before highgui's window sees it, queues the character the keyboard produced
// (the desktop's keyboard layout, Shift and Caps Lock applied) and swallows the event, so
// that highgui never reports a key and nothing is delivered twice.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

#include <algorithm>
#include <chrono>

#include <opencv2/highgui.hpp>

#include "common/display.h"
#include "common/limits.h"
#include "common/window_system.h"

namespace orv {
namespace {

// Longest single wait inside a key wait: a typed key ends the wait at most this late.
constexpr int kSliceMs = 10;

bool IsModifierOnly(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
      return true;
    default:
      return false;
  }
}

// The key as the command table sees it: the one plain character typed, kNoKey for any other
// key (arrows, function keys, Ctrl/Alt combinations, characters outside ASCII), -1 for a
// modifier alone.
int TypedCode(const QKeyEvent& e) {
  if (IsModifierOnly(e.key())) return -1;
  const QString text = e.text();
  const bool combination = (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
  if (!combination && text.size() == 1 && text[0].unicode() >= 1 && text[0].unicode() <= 127)
    return text[0].unicode();
  return kNoKey;
}

// Qt hands events to a filter only through an object's eventFilter.
struct KeyReader : QObject {
  using QObject::QObject;
  bool eventFilter(QObject* to, QEvent* ev) override {
    // A key press reaches the toolkit window first and is then passed on to its widgets;
    // taking it at the window sees each press exactly once.
    if (ev->type() != QEvent::KeyPress || !to->isWindowType()) return false;
    const int code = TypedCode(*static_cast<QKeyEvent*>(ev));
    auto& q = display.typed;
    // Keys typed while nobody waits (a long load) are kept up to a keyboard buffer's worth.
    if (code >= 0 && q.size() < kTypedKeysMax) q.push_back(code);
    ev->accept();
    return true;
  }
};

QPointer<QObject> reader;  // the installed filter; gone with the application object

}  // namespace

void TypedKeysAttach() {
  if (reader) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;  // highgui without Qt: its own key codes stay in use
  reader = new KeyReader(app);
  app->installEventFilter(reader);
}

void TypedKeysServe(int ms) {
  // The reader takes every key press into display.typed, so highgui's result is no key (and
  // without the reader, a highgui that is not Qt-based, a key typed now is lost as before).
  cv::waitKey(std::max(ms, 1));
}

int TypedKeysWait(int ms) {
  if (!reader) return cv::waitKey(ms);
  auto& q = display.typed;
  if (q.empty()) {
    // Short slices of highgui's wait keep its windows and mouse callbacks served; a typed
    // key ends the wait early as it does in highgui. Its own result is never a key (every
    // key press is taken above) and is ignored.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    do {
      int slice = kSliceMs;
      if (ms > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        slice = static_cast<int>(std::clamp<long long>(left.count(), 1, kSliceMs));
      }
      cv::waitKey(slice);
    } while (q.empty() && (ms <= 0 || std::chrono::steady_clock::now() < end));
  }
  if (q.empty()) return -1;
  const int k = q.front();
  q.pop_front();
  return k;
}

}  // namespace orv
