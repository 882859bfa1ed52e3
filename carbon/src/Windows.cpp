// The windows of this process, front to back, and the display's input turned into events.
#include "EventQueue.h"
#include "TextCodec.h"
#include "WindowRecords.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<WindowRef> windows;  // front first

// While the front window is modal, the display sends this process every click.
void FollowFrontWindow() {
  WindowRef front = FrontWindow();
  carbon::ws::SetModalWindow(front != nullptr && front->modal ? front->surface : 0);
}

WindowRef WindowOfSurface(carbon::ws::WindowID surface) {
  for (WindowRef window : windows) {
    if (surface != 0 && window->surface == surface) return window;
  }
  return nullptr;
}

UInt8 MacRomanCharacter(char32_t character) {
  uint8_t encoded[4];
  return carbon::EncodeCharacter(carbon::Codec::kMacRoman, character, encoded) == 1 ? encoded[0] : 0;
}

void QueueInput(const carbon::ws::Input &input) {
  using carbon::ws::InputKind;
  if (input.kind == InputKind::kCloseRequest) {
    WindowRef window = WindowOfSurface(input.window);
    if (window != nullptr && window->closeRequested != nullptr) window->closeRequested(window);
    return;
  }
  EventRecord event{nullEvent, 0, TickCount(), input.where, input.modifiers};
  switch (input.kind) {
    case InputKind::kButtonDown:
      event.what = mouseDown;
      break;
    case InputKind::kButtonUp:
      event.what = mouseUp;
      break;
    case InputKind::kKeyDown:
    case InputKind::kKeyUp: {
      UInt8 character = MacRomanCharacter(input.character);
      if (character == 0 && input.keyCode == 0) return;
      event.what = input.kind == InputKind::kKeyDown ? keyDown : keyUp;
      event.message = (UInt32(input.keyCode) << 8) | character;
      break;
    }
    default:
      return;
  }
  // btnState is set while the button is up.
  bool down = event.what == mouseDown || (event.what != mouseUp && carbon::ButtonDownState());
  if (!down) event.modifiers |= btnState;
  carbon::QueueEvent(event);
}

}  // namespace

namespace carbon {

WindowRef NewWindowRecord(const Rect &bounds, const std::string &title, bool modal) {
  ws::WindowID surface = ws::NewWindow(bounds, MacRomanToUTF8(title));
  auto *window =
      new OpaqueWindowPtr{surface, NewPort(surface, bounds), bounds, false, modal, nullptr, nullptr, nullptr};
  windows.insert(windows.begin(), window);
  return window;
}

void DisposeWindowRecord(WindowRef window) {
  if (window == nullptr) return;
  windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
  DisposePort(window->port);
  ws::DisposeWindow(window->surface);
  delete window;
  FollowFrontWindow();
}

void PumpWindowInput(long waitMs) {
  WindowRef front = FrontWindow();
  bool unseen = front != nullptr && (front->surface == 0 || !ws::Available());
  if (unseen && front->answerAbsentUser != nullptr) front->answerAbsentUser(front);
  ws::Input input;
  for (long wait = EventQueued(everyEvent) ? 0 : waitMs; ws::NextInput(wait, &input); wait = 0)
    QueueInput(input);
}

}  // namespace carbon

WindowPartCode FindWindow(Point thePoint, WindowRef *window) {
  for (WindowRef candidate : windows) {
    if (candidate->visible && PtInRect(thePoint, &candidate->bounds)) {
      *window = candidate;
      return inContent;
    }
  }
  *window = nullptr;
  return inDesk;
}

WindowRef FrontWindow() {
  for (WindowRef window : windows) {
    if (window->visible) return window;
  }
  return nullptr;
}

void BringToFront(WindowRef window) {
  auto found = std::find(windows.begin(), windows.end(), window);
  if (found == windows.end()) return;
  std::rotate(windows.begin(), found, found + 1);
  carbon::ws::RaiseWindow(window->surface, false);
  FollowFrontWindow();
}

void SelectWindow(WindowRef window) {
  BringToFront(window);
  if (window != nullptr) carbon::ws::RaiseWindow(window->surface, true);
}

void ShowWindow(WindowRef window) {
  if (window == nullptr || window->visible) return;
  window->visible = true;
  carbon::ws::ShowWindow(window->surface);
  FollowFrontWindow();
}

void HideWindow(WindowRef window) {
  if (window == nullptr || !window->visible) return;
  window->visible = false;
  carbon::ws::HideWindow(window->surface);
  FollowFrontWindow();
}

Boolean IsWindowVisible(WindowRef window) {
  return window != nullptr && window->visible;
}

CGrafPtr GetWindowPort(WindowRef window) {
  return window->port;
}

void SetPortWindowPort(WindowRef window) {
  SetPort(window->port);
}

Rect *GetWindowPortBounds(WindowRef window, Rect *bounds) {
  return GetPortBounds(window->port, bounds);
}
