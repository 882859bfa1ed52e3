// Push buttons: drawing, highlighting and following a click.
#include "ControlRecords.h"
#include "WindowRecords.h"

#include <Events.h>

namespace {

constexpr SInt16 kCorner = 12;  // the rounding of a button's corners
constexpr SInt16 kRingGap = 4;  // the default ring's distance outside the button
constexpr SInt16 kRingWidth = 3;
constexpr SInt16 kRingCorner = 16;
constexpr RGBColor kGrey{0x8000, 0x8000, 0x8000};

// Draws in the control's window, and leaves the current port and its state as they were.
class OwnerPort {
 public:
  explicit OwnerPort(ControlRef control) : port_(control->owner->port), saved_(*port_) {
    GetPort(&previous_);
    SetPort(port_);
    port_->recording = false;  // a button's title is not a text of the window
  }
  ~OwnerPort() {
    saved_.drawnTexts = std::move(port_->drawnTexts);
    *port_ = std::move(saved_);
    SetPort(previous_);
  }
  OwnerPort(const OwnerPort &) = delete;
  OwnerPort &operator=(const OwnerPort &) = delete;

 private:
  GrafPtr port_;
  OpaqueGrafPtr saved_;
  GrafPtr previous_ = nullptr;
};

Rect RingOf(ControlRef control) {
  Rect ring = control->bounds;
  InsetRect(&ring, -kRingGap, -kRingGap);
  return ring;
}

void DrawTitle(ControlRef control, const RGBColor &colour) {
  UseThemeFont(kThemeSystemFont, smSystemScript);
  RGBForeColor(&colour);
  const Rect &r = control->bounds;
  auto length = SInt16(control->title.size());
  FontInfo info;
  GetFontInfo(&info);
  SInt16 width = TextWidth(control->title.data(), 0, length);
  MoveTo(SInt16(r.left + (r.right - r.left - width) / 2),
         SInt16(r.top + (r.bottom - r.top - info.ascent - info.descent) / 2 + info.ascent));
  DrawText(control->title.data(), 0, length);
}

void DrawButton(ControlRef control) {
  if (!control->visible) return;
  OwnerPort port(control);
  Rect r = control->bounds;
  ForeColor(blackColor);
  bool hilited = control->hilite == kControlButtonPart;
  if (hilited) {
    PaintRoundRect(&r, kCorner, kCorner);
  } else {
    EraseRoundRect(&r, kCorner, kCorner);
    FrameRoundRect(&r, kCorner, kCorner);
  }
  RGBColor white{0xFFFF, 0xFFFF, 0xFFFF};
  RGBColor black{0, 0, 0};
  DrawTitle(control, hilited ? white : control->hilite == kControlInactivePart ? kGrey : black);
  if (control->isDefault) {
    ForeColor(blackColor);
    PenSize(kRingWidth, kRingWidth);
    Rect ring = RingOf(control);
    FrameRoundRect(&ring, kRingCorner, kRingCorner);
  }
}

}  // namespace

namespace carbon {

ControlRef NewPushButton(WindowRef owner, const Rect &bounds, const std::string &title) {
  return new OpaqueControlRef{owner, bounds, title, kControlNoPart, true, false};
}

void EraseControl(ControlRef control) {
  OwnerPort port(control);
  Rect ring = RingOf(control);
  EraseRect(&ring);
}

}  // namespace carbon

void HiliteControl(ControlRef control, ControlPartCode hiliteState) {
  if (control == nullptr || control->hilite == hiliteState) return;
  control->hilite = hiliteState;
  DrawButton(control);
}

ControlPartCode GetControlHilite(ControlRef control) {
  return control != nullptr ? control->hilite : ControlPartCode(kControlNoPart);
}

void Draw1Control(ControlRef control) {
  if (control != nullptr) DrawButton(control);
}

ControlPartCode TrackControl(ControlRef control, Point startPoint, ControlActionUPP) {
  if (control == nullptr || !control->visible || control->hilite == kControlInactivePart)
    return kControlNoPart;
  GrafPtr previous;
  GetPort(&previous);
  SetPort(control->owner->port);
  bool inside = PtInRect(startPoint, &control->bounds);
  HiliteControl(control, inside ? kControlButtonPart : kControlNoPart);
  Point where;
  while (StillDown()) {
    GetMouse(&where);
    if (PtInRect(where, &control->bounds) != inside) {
      inside = !inside;
      HiliteControl(control, inside ? kControlButtonPart : kControlNoPart);
    }
  }
  // Where the button came up decides, and that mouse-up is the button's.
  EventRecord up;
  if (GetNextEvent(mUpMask, &up)) {
    where = up.where;
    GlobalToLocal(&where);
  } else {
    GetMouse(&where);
  }
  inside = PtInRect(where, &control->bounds);
  HiliteControl(control, kControlNoPart);
  SetPort(previous);
  return inside ? kControlButtonPart : kControlNoPart;
}
