// The stand-in application: handlers, the journal, and the event loop that ends on a quit
// event or a termination signal.
#include "apps/kit/StandInApp.h"

#include <MacErrors.h>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cctype>
#include <csignal>
#include <string>
#include <string_view>

namespace standin {
namespace {

// After a termination signal the application keeps handling what was sent before it, for at
// most this long, and stops once its connections have been quiet for kDrainQuietMs.
constexpr double kDrainSeconds = 1.0;
constexpr int kDrainQuietMs = 50;

// SIGTERM and SIGINT end the event loop: the handler sets the flag and wakes the receiver's
// wait through a pipe.
std::atomic<bool> terminationSignalled{false};
int wakeWrite = -1;
int wakeRead = -1;

void OnTerminationSignal(int) {
  terminationSignalled = true;
  if (wakeWrite >= 0) {
    char byte = 1;
    ssize_t ignored = write(wakeWrite, &byte, 1);
    (void)ignored;
  }
}

void CatchTerminationSignals() {
  if (wakeRead < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeRead = fds[0];
    wakeWrite = fds[1];
  }
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

OSType EventAttribute(const AppleEvent &event, AEKeyword key) {
  OSType value = 0;
  DescType actual = 0;
  Size size = 0;
  if (AEGetAttributePtr(&event, key, typeType, &actual, &value, sizeof value, &size) != noErr) return 0;
  return value;
}

}  // namespace

StandInApp::StandInApp(OSType creator, std::string name)
    : creator_(creator),
      name_(std::move(name)),
      dataFolder_(carbon::DataFolderFor(name_)),
      receiver_(creator_, name_,
                {[this](const AppleEvent &event, AppleEvent &reply) { return Dispatch(event, reply); },
                 [this](const std::string &line) { Journal(line); }}) {
  InstallEventHandler(kCoreEventClass, kAEQuitApplication, [this](const AppleEvent &, AppleEvent &) {
    RequestQuit();
    return OSErr(noErr);
  });
}

StandInApp::~StandInApp() {
  Unregister();
  if (journal_ >= 0) close(journal_);
}

void StandInApp::InstallEventHandler(AEEventClass eventClass, AEEventID eventID, EventHandler handler) {
  handlers_[{eventClass, eventID}] = std::move(handler);
}

OSErr StandInApp::Register() {
  if (dataFolder_.empty()) return afpAccessDenied;  // the machine folder is refused
  if (journal_ < 0)
    journal_ = open(JournalPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  return receiver_.Register();
}

void StandInApp::Unregister() {
  receiver_.Unregister();
}

bool StandInApp::QuitRequested() const {
  return receiver_.Stopped() || terminationSignalled;
}

ProcessSerialNumber StandInApp::PSN() const {
  return {0, UInt32(getpid())};
}

void StandInApp::Journal(const std::string &line) {
  if (journal_ < 0) return;
  std::string whole = line + "\n";
  ssize_t ignored = write(journal_, whole.data(), whole.size());
  (void)ignored;
}

OSErr StandInApp::Run() {
  CatchTerminationSignals();
  receiver_.WakeOn(wakeRead);
  OSErr err = Register();
  if (err != noErr) return err;
  while (!QuitRequested()) {
    if (receiver_.ServeReady(-1) == carbon::AEReceiver::Served::kFailed) break;
  }
  // A quit event ends at once; a signal first owes the senders what they already sent.
  if (terminationSignalled && !receiver_.Stopped()) receiver_.Drain(kDrainSeconds, kDrainQuietMs);
  Unregister();
  return noErr;
}

OSErr StandInApp::Dispatch(const AppleEvent &event, AppleEvent &reply) {
  AEEventClass eventClass = EventAttribute(event, keyEventClassAttr);
  AEEventID eventID = EventAttribute(event, keyEventIDAttr);
  for (auto key : {std::pair{eventClass, eventID}, std::pair{eventClass, AEEventID(typeWildCard)},
                   std::pair{AEEventClass(typeWildCard), eventID},
                   std::pair{AEEventClass(typeWildCard), AEEventID(typeWildCard)}}) {
    auto found = handlers_.find(key);
    if (found == handlers_.end()) continue;
    try {
      return found->second(event, reply);
    } catch (...) {
      return errAEEventFailed;
    }
  }
  return errAEEventNotHandled;
}

OSErr GetTextParam(const AppleEvent &event, AEKeyword key, std::string *text) {
  AEDesc desc;
  AEInitializeDesc(&desc);
  OSErr err = AEGetParamDesc(&event, key, typeChar, &desc);
  if (err != noErr) return err;
  text->resize(size_t(AEGetDescDataSize(&desc)));
  err = text->empty() ? OSErr(noErr) : AEGetDescData(&desc, text->data(), Size(text->size()));
  AEDisposeDesc(&desc);
  return err;
}

OSErr GetLongParam(const AppleEvent &event, AEKeyword key, SInt32 *value) {
  DescType actual = 0;
  Size size = 0;
  return AEGetParamPtr(&event, key, typeSInt32, &actual, value, sizeof *value, &size);
}

OSErr PutTextParam(AppleEvent &reply, AEKeyword key, const std::string &text) {
  return AEPutParamPtr(&reply, key, typeChar, text.data(), Size(text.size()));
}

OSErr PutLongParam(AppleEvent &reply, AEKeyword key, SInt32 value) {
  return AEPutParamPtr(&reply, key, typeSInt32, &value, sizeof value);
}

OSErr PutBooleanParam(AppleEvent &reply, AEKeyword key, bool value) {
  Boolean byte = value ? 1 : 0;
  return AEPutParamPtr(&reply, key, typeBoolean, &byte, sizeof byte);
}

bool PathForFileURL(const std::string &url, std::string *path) {
  std::string_view rest = url;
  for (std::string_view prefix : {"file://localhost/", "file:///"}) {
    if (rest.substr(0, prefix.size()) == prefix) {
      rest.remove_prefix(prefix.size() - 1);  // keep the path's first slash
      break;
    }
  }
  if (rest.empty() || rest[0] != '/') return false;
  path->clear();
  for (size_t at = 0; at < rest.size(); at++) {
    char c = rest[at];
    if (c == '%') {
      if (at + 2 >= rest.size() || !std::isxdigit(UInt8(rest[at + 1])) || !std::isxdigit(UInt8(rest[at + 2])))
        return false;
      c = char(std::stoi(std::string(rest.substr(at + 1, 2)), nullptr, 16));
      at += 2;
    }
    if (c == 0) return false;
    path->push_back(c);
  }
  return true;
}

OSErr GetDocumentPaths(const AppleEvent &event, std::vector<std::string> *paths) {
  AEDescList list;
  AEInitializeDesc(&list);
  long count = 0;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeAEList, &list);
  if (err == noErr) err = AECountItems(&list, &count);
  for (long index = 1; err == noErr && index <= count; index++) {
    AEDesc item;
    AEInitializeDesc(&item);
    AEKeyword key;
    err = AEGetNthDesc(&list, index, typeWildCard, &key, &item);
    std::string url(size_t(AEGetDescDataSize(&item)), '\0');
    if (err == noErr && item.descriptorType != typeFileURL) err = errAEWrongDataType;
    if (err == noErr && !url.empty()) err = AEGetDescData(&item, url.data(), Size(url.size()));
    std::string path;
    if (err == noErr && !PathForFileURL(url, &path)) err = errAEWrongDataType;
    if (err == noErr) paths->push_back(path);
    AEDisposeDesc(&item);
  }
  AEDisposeDesc(&list);
  return err;
}

}  // namespace standin
