// Ports, the pen, colours, shapes and text, drawn through the window server into the
// window of the current port.
#include "Ports.h"
#include "TextCodec.h"

#include <MacErrors.h>

#include <algorithm>
#include <string>

namespace {

constexpr RGBColor kBlack{0, 0, 0};
constexpr RGBColor kWhite{0xFFFF, 0xFFFF, 0xFFFF};
constexpr SInt16 kDefaultTextSize = 12;

GrafPtr current = nullptr;

carbon::ws::Colour Colour(const RGBColor &colour) {
  return carbon::ws::Colour{colour.red, colour.green, colour.blue};
}

carbon::ws::Font FontOf(GrafPtr port) {
  return carbon::ws::Font{port->size > 0 ? port->size : kDefaultTextSize, (port->face & bold) != 0};
}

// The colours of the classic colour constants, as the Mac's standard palette has them.
RGBColor ClassicColour(SInt32 color) {
  switch (color) {
    case whiteColor:
      return kWhite;
    case yellowColor:
      return RGBColor{0xFC00, 0xF37D, 0x052F};
    case magentaColor:
      return RGBColor{0xF2D7, 0x0856, 0x84EC};
    case redColor:
      return RGBColor{0xDD6B, 0x08C2, 0x06A2};
    case cyanColor:
      return RGBColor{0x0241, 0xAB54, 0xEAFF};
    case greenColor:
      return RGBColor{0x0000, 0x8000, 0x11B0};
    case blueColor:
      return RGBColor{0x0000, 0x0000, 0xD400};
    default:
      return kBlack;
  }
}

// Mac OS Roman as Latin-1, the display's text encoding; characters it lacks become '?'.
std::string Latin1(const uint8_t *text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; i++) {
    char32_t character = '?';
    OSStatus status = noErr;
    carbon::DecodeCharacter(carbon::Codec::kMacRoman, text + i, 1, &character, &status);
    out += character < 0x100 ? char(character) : '?';
  }
  return out;
}

SInt16 Width(const uint8_t *text, size_t length) {
  if (current == nullptr) return 0;
  return SInt16(std::min(32767, carbon::ws::TextWidth(Latin1(text, length), FontOf(current))));
}

void DrawBytes(const uint8_t *text, size_t length) {
  if (current == nullptr || length == 0) return;
  SInt16 width = Width(text, length);
  if (current->surface == 0) {
    if (current->recording) current->drawnTexts.emplace_back(reinterpret_cast<const char *>(text), length);
  } else {
    carbon::ws::DrawText(current->surface, current->pen, Latin1(text, length), FontOf(current),
                         Colour(current->fore));
    if (current->face & underline) {
      Point from{SInt16(current->pen.v + 1), current->pen.h};
      Point to{from.v, SInt16(current->pen.h + width - 1)};
      carbon::ws::DrawLine(current->surface, from, to, Colour(current->fore), 1);
    }
  }
  current->pen.h = SInt16(current->pen.h + width);
}

}  // namespace

namespace carbon {

GrafPtr NewPort(ws::WindowID surface, const Rect &globalBounds) {
  return new OpaqueGrafPtr{surface, globalBounds, {0, 0}, 1, systemFont, 0, normal, kBlack, kWhite, true, {}};
}

void DisposePort(GrafPtr port) {
  if (current == port) current = nullptr;
  delete port;
}

}  // namespace carbon

void SetPt(Point *pt, SInt16 h, SInt16 v) {
  *pt = Point{v, h};
}

Boolean PtInRect(Point pt, const Rect *r) {
  return pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
}

void OffsetRect(Rect *r, SInt16 dh, SInt16 dv) {
  *r = Rect{SInt16(r->top + dv), SInt16(r->left + dh), SInt16(r->bottom + dv), SInt16(r->right + dh)};
}

void InsetRect(Rect *r, SInt16 dh, SInt16 dv) {
  *r = Rect{SInt16(r->top + dv), SInt16(r->left + dh), SInt16(r->bottom - dv), SInt16(r->right - dh)};
}

void SetPort(GrafPtr port) {
  current = port;
}

void GetPort(GrafPtr *port) {
  *port = current;
}

Rect *GetPortBounds(CGrafPtr port, Rect *rect) {
  *rect = Rect{0, 0, SInt16(port->bounds.bottom - port->bounds.top),
               SInt16(port->bounds.right - port->bounds.left)};
  return rect;
}

void GlobalToLocal(Point *pt) {
  if (current != nullptr)
    *pt = Point{SInt16(pt->v - current->bounds.top), SInt16(pt->h - current->bounds.left)};
}

void LocalToGlobal(Point *pt) {
  if (current != nullptr)
    *pt = Point{SInt16(pt->v + current->bounds.top), SInt16(pt->h + current->bounds.left)};
}

void MoveTo(SInt16 h, SInt16 v) {
  if (current != nullptr) current->pen = Point{v, h};
}

void Move(SInt16 dh, SInt16 dv) {
  if (current != nullptr) MoveTo(SInt16(current->pen.h + dh), SInt16(current->pen.v + dv));
}

void LineTo(SInt16 h, SInt16 v) {
  if (current == nullptr) return;
  carbon::ws::DrawLine(current->surface, current->pen, Point{v, h}, Colour(current->fore), current->penSize);
  current->pen = Point{v, h};
}

void GetPen(Point *pt) {
  *pt = current != nullptr ? current->pen : Point{0, 0};
}

void PenSize(SInt16 width, SInt16 height) {
  if (current != nullptr) current->penSize = std::max<SInt16>(1, std::max(width, height));
}

void PenNormal() {
  if (current != nullptr) current->penSize = 1;
}

void ForeColor(SInt32 color) {
  RGBColor colour = ClassicColour(color);
  RGBForeColor(&colour);
}

void BackColor(SInt32 color) {
  RGBColor colour = ClassicColour(color);
  RGBBackColor(&colour);
}

void RGBForeColor(const RGBColor *color) {
  if (current != nullptr) current->fore = *color;
}

void RGBBackColor(const RGBColor *color) {
  if (current != nullptr) current->back = *color;
}

void GetForeColor(RGBColor *color) {
  *color = current != nullptr ? current->fore : kBlack;
}

void FrameRect(const Rect *r) {
  if (current != nullptr)
    carbon::ws::FrameRect(current->surface, *r, Colour(current->fore), current->penSize);
}

void PaintRect(const Rect *r) {
  if (current != nullptr) carbon::ws::FillRect(current->surface, *r, Colour(current->fore));
}

void EraseRect(const Rect *r) {
  if (current != nullptr) carbon::ws::FillRect(current->surface, *r, Colour(current->back));
}

void FrameRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight) {
  if (current == nullptr) return;
  carbon::ws::FrameRoundRect(current->surface, *r, ovalWidth, ovalHeight, Colour(current->fore),
                             current->penSize);
}

void PaintRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight) {
  if (current != nullptr)
    carbon::ws::FillRoundRect(current->surface, *r, ovalWidth, ovalHeight, Colour(current->fore));
}

void EraseRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight) {
  if (current != nullptr)
    carbon::ws::FillRoundRect(current->surface, *r, ovalWidth, ovalHeight, Colour(current->back));
}

void TextFont(SInt16 font) {
  if (current != nullptr) current->font = font;
}

void TextSize(SInt16 size) {
  if (current != nullptr) current->size = size;
}

void TextFace(StyleParameter face) {
  if (current != nullptr) current->face = Style(face);
}

void DrawString(ConstStr255Param s) {
  DrawBytes(s + 1, s[0]);
}

void DrawText(const void *textBuf, SInt16 firstByte, SInt16 byteCount) {
  if (firstByte >= 0 && byteCount > 0)
    DrawBytes(static_cast<const uint8_t *>(textBuf) + firstByte, size_t(byteCount));
}

SInt16 StringWidth(ConstStr255Param s) {
  return Width(s + 1, s[0]);
}

SInt16 TextWidth(const void *textBuf, SInt16 firstByte, SInt16 byteCount) {
  if (firstByte < 0 || byteCount <= 0) return 0;
  return Width(static_cast<const uint8_t *>(textBuf) + firstByte, size_t(byteCount));
}

void GetFontInfo(FontInfo *info) {
  carbon::ws::FontMetrics metrics =
      carbon::ws::Metrics(current != nullptr ? FontOf(current) : carbon::ws::Font{12, false});
  *info = FontInfo{SInt16(metrics.ascent), SInt16(metrics.descent), SInt16(metrics.widest),
                   SInt16(metrics.leading)};
}

OSStatus UseThemeFont(ThemeFontID inFontID, ScriptCode) {
  if (current == nullptr) return paramErr;
  TextFont(systemFont);
  TextSize(inFontID == kThemeSystemFont ? kDefaultTextSize : 10);
  TextFace(inFontID == kThemeSmallEmphasizedSystemFont ? bold : normal);
  return noErr;
}
