// Screen devices, rectangles and the cursor. The devices are read once, from the X display
// when one answers and otherwise from QUILLCAST_SCREENS, and kept for the process.
#include <Quickdraw.h>

#include "WindowServer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxScreens = 16;

struct Device {
  GDevice record;
  GDPtr master;  // a GDHandle is the address of this word
};

std::mutex screenLock;
bool screensRead = false;
Device devices[kMaxScreens];
size_t deviceCount = 0;
size_t mainIndex = 0;

SInt16 Clamp16(long value) {
  return SInt16(std::clamp<long>(value, -32768, 32767));
}

Rect ScreenRect(long x, long y, long width, long height) {
  return Rect{Clamp16(y), Clamp16(x), Clamp16(y + height), Clamp16(x + width)};
}

// One WIDTHxHEIGHT+X+Y entry; false if it does not parse or is empty.
bool ParseScreen(const std::string &entry, Rect *rect) {
  const char *at = entry.c_str();
  char *end;
  long numbers[4];
  for (int i = 0; i < 4; i++) {
    if (i == 1 && *at++ != 'x') return false;
    if (i >= 2 && *at != '+' && *at != '-') return false;
    if (i < 2 && (*at < '0' || *at > '9')) return false;
    numbers[i] = std::strtol(at, &end, 10);
    if (end == at || (i >= 2 && end == at + 1)) return false;
    at = end;
  }
  if (*at != 0 || numbers[0] <= 0 || numbers[1] <= 0) return false;
  *rect = ScreenRect(numbers[2], numbers[3], numbers[0], numbers[1]);
  return true;
}

std::vector<Rect> ScreensFromText(const char *text) {
  std::vector<Rect> screens;
  std::string list = text ? text : "";
  for (size_t start = 0; start <= list.size() && screens.size() < kMaxScreens;) {
    size_t comma = std::min(list.find(',', start), list.size());
    Rect rect;
    if (ParseScreen(list.substr(start, comma - start), &rect)) screens.push_back(rect);
    start = comma + 1;
  }
  return screens;
}

void ReadScreens() {
  std::vector<Rect> screens = carbon::ws::Screens();
  if (screens.size() > kMaxScreens) screens.resize(kMaxScreens);
  if (screens.empty()) screens = ScreensFromText(std::getenv("QUILLCAST_SCREENS"));
  if (screens.empty()) screens.push_back(ScreenRect(0, 0, 1440, 900));
  deviceCount = screens.size();
  mainIndex = 0;
  for (size_t i = deviceCount; i-- > 0;) {
    if (screens[i].top == 0 && screens[i].left == 0) mainIndex = i;
  }
  for (size_t i = 0; i < deviceCount; i++) {
    devices[i].record = GDevice{SInt16(i), SInt16(i), 0, 0, screens[i], nullptr};
    devices[i].master = &devices[i].record;
  }
  for (size_t i = 0; i + 1 < deviceCount; i++) devices[i].record.gdNextGD = &devices[i + 1].master;
  screensRead = true;
}

GDHandle DeviceHandle(size_t index) {
  std::lock_guard<std::mutex> guard(screenLock);
  if (!screensRead) ReadScreens();
  return &devices[index == SIZE_MAX ? mainIndex : index].master;
}

}  // namespace

GDHandle GetMainDevice() {
  return DeviceHandle(SIZE_MAX);
}
GDHandle GetDeviceList() {
  return DeviceHandle(0);
}
GDHandle GetNextDevice(GDHandle curDevice) {
  return curDevice ? (**curDevice).gdNextGD : nullptr;
}

void CarbonResetScreens() {
  std::lock_guard<std::mutex> guard(screenLock);
  screensRead = false;
}

void SetRect(Rect *r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom) {
  *r = Rect{top, left, bottom, right};
}

void UnionRect(const Rect *src1, const Rect *src2, Rect *dstRect) {
  Rect joined{std::min(src1->top, src2->top), std::min(src1->left, src2->left),
              std::max(src1->bottom, src2->bottom), std::max(src1->right, src2->right)};
  *dstRect = joined;
}

Boolean EmptyRect(const Rect *r) {
  return r->bottom <= r->top || r->right <= r->left;
}

Boolean EqualRect(const Rect *rect1, const Rect *rect2) {
  return rect1->top == rect2->top && rect1->left == rect2->left && rect1->bottom == rect2->bottom &&
         rect1->right == rect2->right;
}

void InitCursor() {}
void SetCursor(const Cursor *) {}

Cursor *GetQDGlobalsArrow(Cursor *arrow) {
  std::memset(arrow, 0, sizeof *arrow);
  arrow->hotSpot = Point{1, 1};
  return arrow;
}

OSStatus SetThemeCursor(ThemeCursor) {
  return 0;
}
