// Gestalt: the answers of a Mac OS X 10.4.9 machine with Apple Events.
#include <Gestalt.h>
#include <MacErrors.h>

namespace {

struct GestaltAnswer {
  OSType selector;
  SInt32 response;
};

constexpr GestaltAnswer kAnswers[] = {
    {gestaltSystemVersion, 0x1049},
    {gestaltSystemVersionMajor, 10},
    {gestaltSystemVersionMinor, 4},
    {gestaltSystemVersionBugFix, 9},
    {gestaltAppleEventsAttr, 1 << gestaltAppleEventsPresent},
};

}  // namespace

OSErr Gestalt(OSType selector, SInt32 *response) {
  for (const GestaltAnswer &answer : kAnswers) {
    if (answer.selector == selector) {
      if (response != nullptr) *response = answer.response;
      return noErr;
    }
  }
  return gestaltUndefSelectorErr;
}
