// The window server over Xlib, loaded at run time. The only file of the layer that sees X's
// own headers.
#include "WindowServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <dlfcn.h>
#include <poll.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace carbon::ws {
namespace {

// Every libX11 function this file calls, by its own name.
// clang-format off
#define CARBON_X_FUNCTIONS(F)                                                                      \
  F(XInitThreads) F(XOpenDisplay) F(XSetErrorHandler) F(XSetIOErrorHandler) F(XDefaultScreen)     \
  F(XDisplayWidth) F(XDisplayHeight) F(XRootWindow) F(XDefaultDepth) F(XDefaultColormap)           \
  F(XWhitePixel) F(XConnectionNumber) F(XFree) F(XFlush) F(XCreateWindow) F(XDestroyWindow)        \
  F(XMapRaised) F(XUnmapWindow) F(XRaiseWindow) F(XSetInputFocus) F(XStoreName)                    \
  F(XSetWMNormalHints) F(XInternAtom) F(XSetWMProtocols) F(XChangeProperty) F(XCreatePixmap)       \
  F(XFreePixmap) F(XSetWindowBackgroundPixmap) F(XClearArea) F(XCreateGC) F(XFreeGC)               \
  F(XSetForeground) F(XSetFont) F(XDrawLine) F(XDrawRectangle) F(XFillRectangle) F(XDrawArc)       \
  F(XFillArc) F(XDrawString) F(XTextWidth) F(XLoadQueryFont) F(XAllocColor) F(XPending)            \
  F(XNextEvent) F(XLookupString) F(XQueryPointer) F(XGrabPointer) F(XUngrabPointer) F(XBell)
// clang-format on

struct Library {
#define CARBON_X_FIELD(name) decltype(&::name) name;  // NOLINT(bugprone-macro-parentheses)
  CARBON_X_FUNCTIONS(CARBON_X_FIELD)
#undef CARBON_X_FIELD
};

struct WindowRecord {
  ::Window window;
  ::Pixmap image;  // the window's picture, shown by the server as its background
  ::GC gc;
  int width, height;
  bool viewable;
  bool focusWanted;
};

struct LoadedFont {
  XFontStruct *font;  // null when the display has no font at all
  bool smear;         // bold drawn by overprinting one pixel to the right
};

std::mutex serverLock;
std::once_flag opened;
Library x;
::Display *display = nullptr;
std::atomic<bool> lost{false};  // set from within an Xlib call, so never under serverLock
::Window root = 0;
int depth = 0;
::Colormap colormap = 0;
::Atom wmDelete = 0;
WindowID modal = 0;
bool grabbed = false;
// Like the connection, the windows and fonts made on it live as long as the process unless
// disposed of: never destroyed, so that they stay reachable to the very end. After the
// connection broke, the records of its windows stay with it.
auto &windows = *new std::map<WindowID, WindowRecord>;
auto &fonts = *new std::map<std::pair<int, bool>, LoadedFont>;
std::map<uint64_t, unsigned long> pixels;

int IgnoreError(::Display *, XErrorEvent *) {
  return 0;
}

// The connection broke (the server went away): from now on there is no display, and the
// process goes on instead of being ended by Xlib.
int ConnectionBroken(::Display *) {
  lost = true;
  return 0;
}

void DisplayLost(::Display *, void *) {
  lost = true;
}

bool LoadLibrary() {
  // Global, so that Xinerama (loaded later) binds to this libX11. It stays loaded: unloading
  // it is never safe once used.
  void *handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) return false;
  bool complete = true;
#define CARBON_X_LOAD(name)                                          \
  x.name = reinterpret_cast<decltype(x.name)>(dlsym(handle, #name)); \
  complete = complete && x.name != nullptr;
  CARBON_X_FUNCTIONS(CARBON_X_LOAD)
#undef CARBON_X_LOAD
  return complete;
}

void Open() {
  const char *name = std::getenv("DISPLAY");
  if (name == nullptr || *name == 0 || !LoadLibrary()) return;
  x.XInitThreads();
  display = x.XOpenDisplay(nullptr);
  if (display == nullptr) return;
  x.XSetErrorHandler(IgnoreError);
  x.XSetIOErrorHandler(ConnectionBroken);
  // Where libX11 is too old to have it, losing the display ends the process.
  if (auto setExit = reinterpret_cast<decltype(&XSetIOErrorExitHandler)>(
          dlsym(RTLD_DEFAULT, "XSetIOErrorExitHandler"))) {
    setExit(display, DisplayLost, nullptr);
  }
  int screen = x.XDefaultScreen(display);
  root = x.XRootWindow(display, screen);
  depth = x.XDefaultDepth(display, screen);
  colormap = x.XDefaultColormap(display, screen);
  wmDelete = x.XInternAtom(display, "WM_DELETE_WINDOW", False);
}

::Display *Connection() {
  std::call_once(opened, Open);
  return lost ? nullptr : display;
}

WindowRecord *Find(WindowID window) {
  if (lost) return nullptr;
  auto found = windows.find(window);
  return found != windows.end() ? &found->second : nullptr;
}

unsigned long Pixel(Colour colour) {
  uint64_t key = (uint64_t(colour.red) << 32) | (uint64_t(colour.green) << 16) | colour.blue;
  auto known = pixels.find(key);
  if (known != pixels.end()) return known->second;
  XColor wanted{};
  wanted.red = colour.red;
  wanted.green = colour.green;
  wanted.blue = colour.blue;
  wanted.flags = DoRed | DoGreen | DoBlue;
  unsigned long pixel = x.XAllocColor(display, colormap, &wanted) ? wanted.pixel : 0;
  pixels[key] = pixel;
  return pixel;
}

// Shows what was drawn in the rectangle of the window's picture.
void Show(const WindowRecord &record, int left, int top, int width, int height) {
  if (width > 0 && height > 0)
    x.XClearArea(display, record.window, left, top, unsigned(width), unsigned(height), False);
  x.XFlush(display);
}

void ShowRect(const WindowRecord &record, const Rect &rect) {
  Show(record, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

XFontStruct *TryFont(const char *family, const char *weight, int pixels) {
  char name[128];
  std::snprintf(name, sizeof name, family, weight, pixels);
  return x.XLoadQueryFont(display, name);
}

// The nearest font of the size: a proportional one where the display has it, else the
// fixed one; bold by weight where there is a bold face, else by overprinting.
LoadedFont FindFont(int size, bool bold) {
  static const char *const families[] = {"-*-helvetica-%s-r-normal--%d-*-*-*-p-*-iso8859-1",
                                         "-misc-fixed-%s-r-*--%d-*-*-*-*-*-iso8859-1"};
  static const int steps[] = {0, 1, -1, 2, 3, -2};
  for (int pass = bold ? 0 : 1; pass < 2; pass++) {
    const char *weight = pass == 0 ? "bold" : "medium";
    for (int step : steps) {
      for (const char *family : families) {
        if (XFontStruct *font = TryFont(family, weight, size + step)) return {font, bold && pass == 1};
      }
    }
  }
  return {x.XLoadQueryFont(display, "fixed"), bold};
}

const LoadedFont &FontFor(Font font) {
  auto key = std::make_pair(font.size, font.bold);
  auto known = fonts.find(key);
  if (known == fonts.end()) known = fonts.emplace(key, FindFont(font.size, font.bold)).first;
  return known->second;
}

void TryGrab() {
  WindowRecord *record = Find(modal);
  if (grabbed || record == nullptr || !record->viewable) return;
  grabbed = x.XGrabPointer(display, record->window, True, ButtonPressMask | ButtonReleaseMask, GrabModeAsync,
                           GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
}

void MarkViewable(::Window window, bool viewable) {
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  record->viewable = viewable;
  if (viewable && record->focusWanted) {
    x.XSetInputFocus(display, window, RevertToParent, CurrentTime);
    record->focusWanted = false;
  }
  if (viewable) TryGrab();
}

uint16_t Modifiers(unsigned state) {
  uint16_t modifiers = 0;
  if (state & ShiftMask) modifiers |= kShift;
  if (state & LockMask) modifiers |= kCapsLock;
  if (state & ControlMask) modifiers |= kControl;
  if (state & Mod1Mask) modifiers |= kCommand;  // Alt stands for the command key
  if (state & Mod5Mask) modifiers |= kOption;
  return modifiers;
}

// The keys that carry a character and a key code of their own on the Mac.
bool SpecialKey(KeySym key, Input *input) {
  static const struct {
    KeySym key;
    char32_t character;
    uint8_t code;
  } keys[] = {{XK_Return, 13, 0x24}, {XK_KP_Enter, 3, 0x4C},  {XK_Escape, 27, 0x35},
              {XK_Tab, 9, 0x30},     {XK_BackSpace, 8, 0x33}, {XK_Left, 28, 0x7B},
              {XK_Right, 29, 0x7C},  {XK_Up, 30, 0x7E},       {XK_Down, 31, 0x7D}};
  for (const auto &entry : keys) {
    if (entry.key != key) continue;
    input->character = entry.character;
    input->keyCode = entry.code;
    return true;
  }
  return false;
}

void TranslateKey(XKeyEvent *event, Input *input) {
  char text[8];
  KeySym key = NoSymbol;
  int length = x.XLookupString(event, text, sizeof text, &key, nullptr);
  if (!SpecialKey(key, input) && length > 0) input->character = uint8_t(text[0]);
  input->modifiers = Modifiers(event->state);
  input->where = Point{int16_t(event->y_root), int16_t(event->x_root)};
}

// The window of this process under a click: the event's window when the click lies in it
// (a held pointer reports clicks anywhere to the modal window).
WindowID WindowUnder(const XButtonEvent &event) {
  WindowRecord *record = Find(event.window);
  if (record == nullptr || event.x < 0 || event.y < 0 || event.x >= record->width ||
      event.y >= record->height)
    return 0;
  return event.window;
}

bool Translate(XEvent *event, Input *input) {
  *input = Input{InputKind::kNone, 0, {0, 0}, 0, 0, 0};
  switch (event->type) {
    case MapNotify:
      MarkViewable(event->xmap.window, true);
      return false;
    case UnmapNotify:
      MarkViewable(event->xunmap.window, false);
      return false;
    case ButtonPress:
    case ButtonRelease:
      if (event->xbutton.button > Button3) return false;  // wheels
      input->kind = event->type == ButtonPress ? InputKind::kButtonDown : InputKind::kButtonUp;
      input->window = WindowUnder(event->xbutton);
      input->where = Point{int16_t(event->xbutton.y_root), int16_t(event->xbutton.x_root)};
      input->modifiers = Modifiers(event->xbutton.state);
      return true;
    case KeyPress:
    case KeyRelease:
      input->kind = event->type == KeyPress ? InputKind::kKeyDown : InputKind::kKeyUp;
      input->window = Find(event->xkey.window) ? event->xkey.window : 0;
      TranslateKey(&event->xkey, input);
      return true;
    case ClientMessage:
      if (::Atom(event->xclient.data.l[0]) != wmDelete || Find(event->xclient.window) == nullptr)
        return false;
      input->kind = InputKind::kCloseRequest;
      input->window = event->xclient.window;
      return true;
    default:
      return false;
  }
}

void SetHints(::Window window, const Rect &bounds, const std::string &title) {
  XSizeHints hints{};
  hints.flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
  hints.x = bounds.left;
  hints.y = bounds.top;
  hints.width = hints.min_width = hints.max_width = bounds.right - bounds.left;
  hints.height = hints.min_height = hints.max_height = bounds.bottom - bounds.top;
  x.XSetWMNormalHints(display, window, &hints);
  ::Atom protocols[] = {wmDelete};
  x.XSetWMProtocols(display, window, protocols, 1);
  ::Atom utf8 = x.XInternAtom(display, "UTF8_STRING", False);
  x.XChangeProperty(display, window, x.XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.data()), int(title.size()));
  // WM_NAME is Latin-1: characters beyond it are left out.
  std::string latin1;
  for (size_t i = 0; i < title.size(); i++) {
    auto byte = uint8_t(title[i]);
    if (byte < 0x80) {
      latin1 += char(byte);
    } else if ((byte & 0xE0) == 0xC0 && i + 1 < title.size() && byte <= 0xC3) {
      latin1 += char(((byte & 0x1F) << 6) | (uint8_t(title[++i]) & 0x3F));
    }
  }
  x.XStoreName(display, window, latin1.c_str());
  ::Atom type = x.XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  ::Atom dialog = x.XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  x.XChangeProperty(display, window, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&dialog), 1);
}

}  // namespace

bool Available() {
  return Connection() != nullptr;
}

std::vector<Rect> Screens() {
  std::lock_guard<std::mutex> guard(serverLock);
  if (Connection() == nullptr) return {};
  struct XineramaScreenInfo {
    int screen_number;
    short x_org, y_org, width, height;
  };
  std::vector<Rect> screens;
  auto rect = [](long left, long top, long width, long height) {
    auto clamp = [](long v) { return int16_t(v < -32768 ? -32768 : v > 32767 ? 32767 : v); };
    return Rect{clamp(top), clamp(left), clamp(top + height), clamp(left + width)};
  };
  void *xinerama = dlopen("libXinerama.so.1", RTLD_NOW | RTLD_LOCAL);
  auto isActive =
      reinterpret_cast<int (*)(::Display *)>(xinerama ? dlsym(xinerama, "XineramaIsActive") : nullptr);
  auto query = reinterpret_cast<XineramaScreenInfo *(*)(::Display *, int *)>(
      xinerama ? dlsym(xinerama, "XineramaQueryScreens") : nullptr);
  if (isActive != nullptr && query != nullptr && isActive(display)) {
    int count = 0;
    XineramaScreenInfo *info = query(display, &count);
    for (int i = 0; info != nullptr && i < count; i++) {
      screens.push_back(rect(info[i].x_org, info[i].y_org, info[i].width, info[i].height));
    }
    if (info != nullptr) x.XFree(info);
  }
  int screen = x.XDefaultScreen(display);
  if (screens.empty())
    screens.push_back(rect(0, 0, x.XDisplayWidth(display, screen), x.XDisplayHeight(display, screen)));
  return screens;
}

WindowID NewWindow(const Rect &bounds, const std::string &title) {
  std::lock_guard<std::mutex> guard(serverLock);
  int width = bounds.right - bounds.left;
  int height = bounds.bottom - bounds.top;
  if (Connection() == nullptr || width <= 0 || height <= 0) return 0;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = x.XWhitePixel(display, x.XDefaultScreen(display));
  attributes.event_mask =
      ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask;
  ::Window window =
      x.XCreateWindow(display, root, bounds.left, bounds.top, unsigned(width), unsigned(height), 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
  if (window == 0) return 0;
  ::Pixmap image = x.XCreatePixmap(display, window, unsigned(width), unsigned(height), unsigned(depth));
  ::GC gc = x.XCreateGC(display, image, 0, nullptr);
  WindowRecord record{window, image, gc, width, height, false, false};
  x.XSetForeground(display, gc, Pixel(Colour{0xFFFF, 0xFFFF, 0xFFFF}));
  x.XFillRectangle(display, image, gc, 0, 0, unsigned(width), unsigned(height));
  x.XSetWindowBackgroundPixmap(display, window, image);
  SetHints(window, bounds, title);
  windows[window] = record;
  x.XFlush(display);
  return window;
}

void DisposeWindow(WindowID window) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  if (modal == window) {
    if (grabbed) x.XUngrabPointer(display, CurrentTime);
    modal = 0;
    grabbed = false;
  }
  x.XDestroyWindow(display, record->window);
  x.XFreeGC(display, record->gc);
  x.XFreePixmap(display, record->image);
  windows.erase(window);
  x.XFlush(display);
}

void ShowWindow(WindowID window) {
  std::lock_guard<std::mutex> guard(serverLock);
  if (WindowRecord *record = Find(window)) {
    x.XMapRaised(display, record->window);
    x.XFlush(display);
  }
}

void HideWindow(WindowID window) {
  std::lock_guard<std::mutex> guard(serverLock);
  if (WindowRecord *record = Find(window)) {
    x.XUnmapWindow(display, record->window);
    x.XFlush(display);
  }
}

void RaiseWindow(WindowID window, bool focus) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  x.XRaiseWindow(display, record->window);
  if (focus && record->viewable) x.XSetInputFocus(display, record->window, RevertToParent, CurrentTime);
  record->focusWanted = focus && !record->viewable;
  x.XFlush(display);
}

void SetModalWindow(WindowID window) {
  std::lock_guard<std::mutex> guard(serverLock);
  if (Connection() == nullptr || window == modal) return;
  if (grabbed) x.XUngrabPointer(display, CurrentTime);
  grabbed = false;
  modal = window;
  TryGrab();
  x.XFlush(display);
}

void FillRect(WindowID window, const Rect &rect, Colour colour) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr || rect.right <= rect.left || rect.bottom <= rect.top) return;
  x.XSetForeground(display, record->gc, Pixel(colour));
  x.XFillRectangle(display, record->image, record->gc, rect.left, rect.top, unsigned(rect.right - rect.left),
                   unsigned(rect.bottom - rect.top));
  ShowRect(*record, rect);
}

void FrameRect(WindowID window, const Rect &rect, Colour colour, int pen) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  x.XSetForeground(display, record->gc, Pixel(colour));
  for (int i = 0; i < pen; i++) {
    int width = rect.right - rect.left - 1 - 2 * i;
    int height = rect.bottom - rect.top - 1 - 2 * i;
    if (width < 0 || height < 0) break;
    x.XDrawRectangle(display, record->image, record->gc, rect.left + i, rect.top + i, unsigned(width),
                     unsigned(height));
  }
  ShowRect(*record, rect);
}

void FillRoundRect(WindowID window, const Rect &rect, int ovalWidth, int ovalHeight, Colour colour) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (record == nullptr || width <= 0 || height <= 0) return;
  int ow = std::min(ovalWidth, width);
  int oh = std::min(ovalHeight, height);
  ::Drawable image = record->image;
  x.XSetForeground(display, record->gc, Pixel(colour));
  x.XFillRectangle(display, image, record->gc, rect.left + ow / 2, rect.top, unsigned(width - ow / 2 * 2),
                   unsigned(height));
  x.XFillRectangle(display, image, record->gc, rect.left, rect.top + oh / 2, unsigned(width),
                   unsigned(height - oh / 2 * 2));
  if (ow > 0 && oh > 0) {
    int right = rect.right - ow;
    int bottom = rect.bottom - oh;
    x.XFillArc(display, image, record->gc, rect.left, rect.top, unsigned(ow), unsigned(oh), 90 * 64, 90 * 64);
    x.XFillArc(display, image, record->gc, right, rect.top, unsigned(ow), unsigned(oh), 0, 90 * 64);
    x.XFillArc(display, image, record->gc, rect.left, bottom, unsigned(ow), unsigned(oh), 180 * 64, 90 * 64);
    x.XFillArc(display, image, record->gc, right, bottom, unsigned(ow), unsigned(oh), 270 * 64, 90 * 64);
  }
  ShowRect(*record, rect);
}

void FrameRoundRect(WindowID window, const Rect &rect, int ovalWidth, int ovalHeight, Colour colour,
                    int pen) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  x.XSetForeground(display, record->gc, Pixel(colour));
  for (int i = 0; i < pen; i++) {
    int left = rect.left + i, top = rect.top + i, right = rect.right - 1 - i, bottom = rect.bottom - 1 - i;
    int ow = std::max(0, std::min(ovalWidth - 2 * i, right - left));
    int oh = std::max(0, std::min(ovalHeight - 2 * i, bottom - top));
    if (right < left || bottom < top) break;
    ::Drawable image = record->image;
    ::GC gc = record->gc;
    x.XDrawLine(display, image, gc, left + ow / 2, top, right - ow / 2, top);
    x.XDrawLine(display, image, gc, left + ow / 2, bottom, right - ow / 2, bottom);
    x.XDrawLine(display, image, gc, left, top + oh / 2, left, bottom - oh / 2);
    x.XDrawLine(display, image, gc, right, top + oh / 2, right, bottom - oh / 2);
    if (ow > 0 && oh > 0) {
      x.XDrawArc(display, image, gc, left, top, unsigned(ow), unsigned(oh), 90 * 64, 90 * 64);
      x.XDrawArc(display, image, gc, right - ow, top, unsigned(ow), unsigned(oh), 0, 90 * 64);
      x.XDrawArc(display, image, gc, left, bottom - oh, unsigned(ow), unsigned(oh), 180 * 64, 90 * 64);
      x.XDrawArc(display, image, gc, right - ow, bottom - oh, unsigned(ow), unsigned(oh), 270 * 64, 90 * 64);
    }
  }
  ShowRect(*record, rect);
}

void DrawLine(WindowID window, Point from, Point to, Colour colour, int pen) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr) return;
  x.XSetForeground(display, record->gc, Pixel(colour));
  // The pen hangs below and to the right of the line, as QuickDraw's does.
  for (int i = 0; i < pen; i++) {
    for (int j = 0; j < pen; j++) {
      x.XDrawLine(display, record->image, record->gc, from.h + i, from.v + j, to.h + i, to.v + j);
    }
  }
  Show(*record, std::min(from.h, to.h), std::min(from.v, to.v), std::abs(to.h - from.h) + pen,
       std::abs(to.v - from.v) + pen);
}

void DrawText(WindowID window, Point baseline, const std::string &latin1, Font font, Colour colour) {
  std::lock_guard<std::mutex> guard(serverLock);
  WindowRecord *record = Find(window);
  if (record == nullptr || latin1.empty()) return;
  const LoadedFont &loaded = FontFor(font);
  if (loaded.font == nullptr) return;
  x.XSetForeground(display, record->gc, Pixel(colour));
  x.XSetFont(display, record->gc, loaded.font->fid);
  int length = int(std::min<size_t>(latin1.size(), 32767));
  x.XDrawString(display, record->image, record->gc, baseline.h, baseline.v, latin1.data(), length);
  if (loaded.smear)
    x.XDrawString(display, record->image, record->gc, baseline.h + 1, baseline.v, latin1.data(), length);
  int width = x.XTextWidth(loaded.font, latin1.data(), length) + 2;
  Show(*record, baseline.h - 1, baseline.v - loaded.font->ascent, width,
       loaded.font->ascent + loaded.font->descent);
}

int TextWidth(const std::string &latin1, Font font) {
  std::lock_guard<std::mutex> guard(serverLock);
  const LoadedFont *loaded = Connection() != nullptr ? &FontFor(font) : nullptr;
  if (loaded == nullptr || loaded->font == nullptr) {
    // No display: an even estimate, so that layouts still come out in proportion.
    return int(latin1.size()) * (font.size * 2 / 3) + (font.bold ? 1 : 0);
  }
  int length = int(std::min<size_t>(latin1.size(), 32767));
  return x.XTextWidth(loaded->font, latin1.data(), length) + (loaded->smear ? 1 : 0);
}

FontMetrics Metrics(Font font) {
  std::lock_guard<std::mutex> guard(serverLock);
  const LoadedFont *loaded = Connection() != nullptr ? &FontFor(font) : nullptr;
  if (loaded == nullptr || loaded->font == nullptr)
    return {font.size * 3 / 4 + 1, font.size / 4 + 1, font.size * 2 / 3, 0};
  return {loaded->font->ascent, loaded->font->descent,
          loaded->font->max_bounds.width + (loaded->smear ? 1 : 0), 0};
}

bool NextInput(long waitMs, Input *input) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0L, waitMs));
  std::unique_lock<std::mutex> guard(serverLock);
  if (Connection() == nullptr) {
    guard.unlock();
    std::this_thread::sleep_until(deadline);
    return false;
  }
  x.XFlush(display);
  for (;;) {
    while (!lost && x.XPending(display) > 0) {
      XEvent event;
      x.XNextEvent(display, &event);
      if (!lost && Translate(&event, input)) return true;
    }
    if (lost) return false;
    TryGrab();
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd connection{x.XConnectionNumber(display), POLLIN, 0};
    guard.unlock();
    poll(&connection, 1, int(std::min<long>(left.count(), 1000)));
    guard.lock();
  }
}

bool Pointer(Point *where, bool *buttonDown) {
  std::lock_guard<std::mutex> guard(serverLock);
  if (Connection() == nullptr) return false;
  ::Window rootReturn, child;
  int rootX, rootY, windowX, windowY;
  unsigned mask;
  if (!x.XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY, &mask))
    return false;
  *where = Point{int16_t(rootY), int16_t(rootX)};
  *buttonDown = (mask & Button1Mask) != 0;
  return true;
}

void Bell() {
  std::lock_guard<std::mutex> guard(serverLock);
  if (Connection() == nullptr) return;
  x.XBell(display, 0);
  x.XFlush(display);
}

}  // namespace carbon::ws
