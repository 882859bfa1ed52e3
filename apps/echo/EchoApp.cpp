// Echo: the small stand-in application that the tests of the Process Manager and AESend
// drive. Creator 'Echo', events of class 'ECHO':
//   'echo'  replies with its direct parameter, whatever its type
//   'note'  records its direct parameter (a number), and journals it as "# note N"; sent
//           without wanting a reply
//   'list'  replies with a list of the numbers recorded so far, in the order they came
//   'stat'  replies with 'pvis' and 'pisf': whether it is visible and in front
//   'fail'  answers with the error number in its direct parameter and an 'errs' text
//   'hang'  never answers (sleeps until it is told to quit)
//   'die '  exits on the spot, leaving the sender without a reply
// and 'core'/'crel', which answers with the number of properties in its 'prdt' record, as a
// client answers a new message with a reference to it.
#include "apps/kit/StandInApp.h"

#include <MacErrors.h>

#include <unistd.h>
#include <string>
#include <vector>

namespace {

constexpr AEEventClass kEchoClass = FourCC("ECHO");

OSErr EchoDirect(const AppleEvent &event, AppleEvent &reply) {
  AEDesc value;
  AEInitializeDesc(&value);
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, &value);
  if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &value);
  AEDisposeDesc(&value);
  return err;
}

void InstallHandlers(standin::StandInApp &app, std::vector<SInt32> &notes) {
  app.InstallEventHandler(kEchoClass, FourCC("echo"), EchoDirect);
  app.InstallEventHandler(kEchoClass, FourCC("note"), [&app, &notes](const AppleEvent &event, AppleEvent &) {
    SInt32 number = 0;
    OSErr err = standin::GetLongParam(event, keyDirectObject, &number);
    if (err != noErr) return err;
    notes.push_back(number);
    app.Journal("# note " + std::to_string(number));  // what was handled, readable after it exits
    return err;
  });
  app.InstallEventHandler(kEchoClass, FourCC("list"), [&notes](const AppleEvent &, AppleEvent &reply) {
    AEDescList list;
    OSErr err = AECreateList(nullptr, 0, false, &list);
    for (size_t at = 0; err == noErr && at < notes.size(); at++) {
      err = AEPutPtr(&list, 0, typeSInt32, &notes[at], sizeof(SInt32));
    }
    if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &list);
    AEDisposeDesc(&list);
    return err;
  });
  app.InstallEventHandler(kEchoClass, FourCC("stat"), [&app](const AppleEvent &, AppleEvent &reply) {
    OSErr err = standin::PutBooleanParam(reply, FourCC("pvis"), app.Visible());
    return err != noErr ? err : standin::PutBooleanParam(reply, FourCC("pisf"), app.Front());
  });
  app.InstallEventHandler(kEchoClass, FourCC("fail"), [](const AppleEvent &event, AppleEvent &reply) {
    SInt32 number = errAEEventFailed;
    standin::GetLongParam(event, keyDirectObject, &number);
    standin::PutTextParam(reply, keyErrorString, "failed on request");
    return OSErr(number);
  });
  // 'slow' answers like 'echo', a tenth of a second late: long past a short time-out.
  app.InstallEventHandler(kEchoClass, FourCC("slow"), [](const AppleEvent &event, AppleEvent &reply) {
    usleep(100000);
    return EchoDirect(event, reply);
  });
  app.InstallEventHandler(kEchoClass, FourCC("hang"), [&app](const AppleEvent &, AppleEvent &) {
    while (!app.QuitRequested()) usleep(5000);
    return OSErr(noErr);
  });
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, [](const AppleEvent &event, AppleEvent &reply) {
    AERecord properties;
    AEInitializeDesc(&properties);
    long count = 0;
    OSErr err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, &properties);
    if (err == noErr) err = AECountItems(&properties, &count);
    AEDisposeDesc(&properties);
    return err != noErr ? err : standin::PutLongParam(reply, keyDirectObject, SInt32(count));
  });
  app.InstallEventHandler(kEchoClass, FourCC("die "),
                          [](const AppleEvent &, AppleEvent &) -> OSErr { _exit(3); });
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<SInt32> notes;
  return standin::StandInMain(argc, argv, FourCC("Echo"), "Echo",
                              [&notes](standin::StandInApp &app) { InstallHandlers(app, notes); });
}
