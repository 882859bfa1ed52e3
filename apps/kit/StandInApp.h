// The stand-in application kit: what a stand-in application (an email client, the database
// application, the echo application of the tests) needs to run as a separate process that
// the plug-in finds, launches and drives with Apple Events.
//
// A StandInApp receives its events through the carbon layer's AEReceiver (AEReceiver.h:
// registration in the process table, same-user connections only, replies with 'errn') and
//   - hands each event to the handler installed for its event class and ID
//     (errAEEventNotHandled when none was found);
//   - journals every event it receives, in AEPrint form, one per line, to journal.log in its
//     data folder $QUILLCAST_HOME/Data/<Name>/ (a line feed inside a text is written as \n).
//     Lines the kit adds of its own start with '#': "# visible 0", "# front 1" when the
//     Process Manager hides, shows or fronts the application, and "# malformed event" and
//     "# refused uid N" for what it turned away;
//   - unregisters when it quits: on 'aevt'/'quit' (handled by default), on SIGTERM or SIGINT,
//     and when the StandInApp is destroyed. On SIGTERM or SIGINT it first takes no new
//     connections and handles every event already sent to it (for a second at most), so that
//     no-reply events sent just before the signal are not lost.
//
// Events are handled one at a time on the thread that calls Run, in the order they arrive on
// each connection. A handler that takes long should now and then look at QuitRequested().
//
// Example, a whole stand-in:
//
//   #include "apps/kit/StandInApp.h"
//
//   int main(int argc, char **argv) {
//     return standin::StandInMain(argc, argv, FourCC("Echo"), "Echo", [](standin::StandInApp &app) {
//       app.InstallEventHandler(FourCC("ECHO"), FourCC("echo"), [](const AppleEvent &event, AppleEvent
//       &reply) {
//         AEDesc value;
//         OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, &value);
//         if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &value);
//         AEDisposeDesc(&value);
//         return err;  // nonzero: the kit puts it into the reply as 'errn'
//       });
//     });
//   }
//
// Run as `stand-in --install VOLUME` the same executable installs itself on that volume
// (see InstallApplication) and exits; run with no arguments it serves until it is told to
// quit. LaunchApplication starts it the second way.
#pragma once

#include <AEReceiver.h>
#include <AppleEvents.h>
#include <Processes.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace standin {

// Fills reply and returns noErr, or returns an error number for the reply's 'errn'. For an
// event sent with kAENoReply, reply is the null descriptor and nothing put into it is kept;
// its sender learns that it was handled once the handler returns, so whatever the event asks
// to keep (a queued message) is on disk before the handler returns, never left for later.
// The kit owns event and reply; a handler disposes only what it creates itself.
using EventHandler = std::function<OSErr(const AppleEvent &event, AppleEvent &reply)>;

class StandInApp {
 public:
  StandInApp(OSType creator, std::string name);
  ~StandInApp();  // unregisters
  StandInApp(const StandInApp &) = delete;
  StandInApp &operator=(const StandInApp &) = delete;

  // The handler for one event class and ID; typeWildCard ('****') in either place matches
  // any, the most specific handler winning. Installing again replaces.
  void InstallEventHandler(AEEventClass eventClass, AEEventID eventID, EventHandler handler);
  // The same for a handler that is a function of the application's own state, which must
  // outlive the StandInApp:
  //   app.InstallEventHandler(kAECoreSuite, kAESetData, eudora, SetData);
  template <class State>
  void InstallEventHandler(AEEventClass eventClass, AEEventID eventID, State &state,
                           OSErr (*handler)(State &, const AppleEvent &, AppleEvent &)) {
    InstallEventHandler(eventClass, eventID, [&state, handler](const AppleEvent &event, AppleEvent &reply) {
      return handler(state, event, reply);
    });
  }

  // Creates the data folder, listens on the socket and writes the process-table entry.
  // Run calls it when it has not been called.
  OSErr Register();
  // Serves events until a quit event, SIGTERM or SIGINT; then unregisters. Returns noErr, or
  // the error that kept it from registering.
  OSErr Run();
  void Unregister();

  // From a handler: stop once this event has been answered.
  void RequestQuit() { receiver_.Stop(); }
  // True once a quit was requested or a termination signal arrived.
  bool QuitRequested() const;

  OSType Creator() const { return creator_; }
  const std::string &Name() const { return name_; }
  const std::string &DataFolder() const { return dataFolder_; }  // valid from construction
  std::string JournalPath() const { return dataFolder_ + "/journal.log"; }
  ProcessSerialNumber PSN() const;
  bool Visible() const { return receiver_.Visible(); }
  bool Front() const { return receiver_.Front(); }

  // Appends a line of the application's own to the journal.
  void Journal(const std::string &line);

 private:
  OSErr Dispatch(const AppleEvent &event, AppleEvent &reply);

  OSType creator_;
  std::string name_;
  std::string dataFolder_;
  std::map<std::pair<AEEventClass, AEEventID>, EventHandler> handlers_;
  int journal_ = -1;
  carbon::AEReceiver receiver_;
};

// Installs an application on a volume: the folder <volumeRoot>/<name>.app with
// Contents/PkgInfo ("APPL" and the creator) and Contents/MacOS/<name>, a symbolic link to
// executablePath, and the application's line in the volume's desktop database. The volume
// folder (an absolute path) is created if need be. Installing again replaces the link and the
// line. name is at most 59 bytes and has no '/' (bdNamErr).
OSErr InstallApplication(const std::string &volumeRoot, const std::string &name, OSType creator,
                         const std::string &executablePath);

// The machine's Applications volume as FindFolder has it, $QUILLCAST_HOME/Applications,
// created when missing.
std::string ApplicationsVolume();

// Launches the application installed as <volumeRoot>/<name>.app (LaunchApplication with
// these flags) and gives its process serial number; the Process Manager's error otherwise.
OSErr LaunchInstalledApplication(const std::string &volumeRoot, const std::string &name,
                                 ProcessSerialNumber *psn,
                                 LaunchFlags flags = launchContinue | launchNoFileFlags);

// The whole main() of a stand-in. With the arguments "--install VOLUME" it installs the
// running executable on VOLUME under name and creator, prints what it did, and returns 0
// (1 on failure). Otherwise it makes the StandInApp, lets setup install its handlers, and
// runs it; it returns 0 after a normal quit, 1 when the application could not register.
int StandInMain(int argc, char **argv, OSType creator, const std::string &name,
                const std::function<void(StandInApp &)> &setup);

// Helpers for handlers. The getters coerce; all return the Apple Event Manager's status.
OSErr GetTextParam(const AppleEvent &event, AEKeyword key, std::string *text);  // as 'TEXT'
OSErr GetLongParam(const AppleEvent &event, AEKeyword key, SInt32 *value);      // as 'long'
OSErr PutTextParam(AppleEvent &reply, AEKeyword key, const std::string &text);
OSErr PutLongParam(AppleEvent &reply, AEKeyword key, SInt32 value);
OSErr PutBooleanParam(AppleEvent &reply, AEKeyword key, bool value);

// The documents of an 'aevt'/'odoc' event: its direct parameter, one file URL ('furl') or a
// list of them, as absolute paths. errAEWrongDataType for an item that is not a file URL of
// this machine; paths is then incomplete.
OSErr GetDocumentPaths(const AppleEvent &event, std::vector<std::string> *paths);
// The path of a file URL: "file://" (or "file://localhost") and an absolute path whose %XX
// escapes are decoded. False for anything else, and for a path holding a NUL.
bool PathForFileURL(const std::string &url, std::string *path);

}  // namespace standin
