// Test support for the stand-in clients: descriptors the test owns, and a fixture that
// installs one stand-in on a fresh emulated machine, launches it, talks to it through AESend
// and quits it (so that it writes its drafts) at the end of the test.
#pragma once

#include <AEHelpers.h>
#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include "apps/kit/StandInApp.h"

namespace standintest {

// A descriptor the test owns.
struct Desc {
  AEDesc d;
  Desc() { AEInitializeDesc(&d); }
  Desc(DescType type, const void *data, Size size) { AECreateDesc(type, data, size, &d); }
  Desc(const Desc &other) { AEDuplicateDesc(&other.d, &d); }
  Desc &operator=(const Desc &) = delete;
  ~Desc() { AEDisposeDesc(&d); }
};

inline Desc Text(const std::string &bytes, DescType type = typeChar) {
  return Desc(type, bytes.data(), Size(bytes.size()));
}
inline Desc Code(DescType type, OSType code) {
  return Desc(type, &code, 4);
}
inline Desc Long(SInt32 value) {
  return Desc(typeSInt32, &value, 4);
}
inline Desc Short(SInt16 value) {
  return Desc(typeSInt16, &value, 2);
}

using Keyed = std::initializer_list<std::pair<AEKeyword, Desc>>;

inline Desc Record(DescType type, Keyed items) {
  Desc record;
  AECreateList(nullptr, 0, true, &record.d);
  for (const auto &[key, value] : items) AEPutKeyDesc(&record.d, key, &value.d);
  Desc result;
  AECoerceDesc(&record.d, type, &result.d);
  return result;
}
inline Desc Obj(OSType form, DescType want, const Desc &seld, const Desc &from = Desc()) {
  return Record(typeObjectSpecifier, {{keyAEKeyForm, Code(typeEnumerated, form)},
                                      {keyAEDesiredClass, Code(typeType, want)},
                                      {keyAEKeyData, seld},
                                      {keyAEContainer, from}});
}
inline Desc List(std::initializer_list<Desc> items) {
  Desc list;
  AECreateList(nullptr, 0, false, &list.d);
  for (const Desc &item : items) AEPutDesc(&list.d, 0, &item.d);
  return list;
}

// The 'errn' of a reply, 0 when it has none.
inline SInt32 ReplyError(const Desc &reply) {
  SInt32 error = 0;
  DescType type;
  Size size;
  AEGetParamPtr(&reply.d, keyErrorNumber, typeSInt32, &type, &error, 4, &size);
  return error;
}

// The reply's direct parameter as 'TEXT' bytes; "<none>" when it has none.
inline std::string ReplyText(const Desc &reply) {
  char text[512];
  DescType type;
  Size size = 0;
  if (AEGetParamPtr(&reply.d, keyDirectObject, typeChar, &type, text, sizeof text, &size) != noErr)
    return "<none>";
  return std::string(text, size_t(std::min<Size>(size, sizeof text)));
}

// A stand-in launched on a fresh machine; told to quit (so that it writes its drafts) and
// reaped by Quit or at the end of the test.
class StandInClient : public ::testing::Test {
 protected:
  void Launch(const std::string &name, OSType creator, const std::string &accounts = {}) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "quillcast-apps-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    unsetenv("QUILLCAST_AE_TRACE");
    data_ = home_ + "/Data/" + name;
    std::filesystem::create_directories(data_);
    if (!accounts.empty()) std::ofstream(data_ + "/accounts.conf") << accounts;
    std::string volume = standin::ApplicationsVolume();
    std::string executable = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/" + name;
    ASSERT_EQ(standin::InstallApplication(volume, name, creator, executable), noErr);
    ASSERT_EQ(standin::LaunchInstalledApplication(volume, name, &psn_), noErr);
  }

  void TearDown() override {
    Quit();
    std::error_code ignored;
    if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
  }

  // Sends the event and waits for the reply (mode 0x43), or sends it without (0x41).
  OSErr Send(AEEventClass eventClass, AEEventID id, Keyed params, Desc *reply = nullptr, bool wait = true) {
    Desc target(typeProcessSerialNumber, &psn_, sizeof psn_), event, ignored;
    AECreateAppleEvent(eventClass, id, &target.d, kAutoGenerateReturnID, kAnyTransactionID, &event.d);
    for (const auto &[key, value] : params) AEPutParamDesc(&event.d, key, &value.d);
    return AESend(&event.d, reply ? &reply->d : &ignored.d, wait ? 0x43 : 0x41, kAENormalPriority, 1200,
                  nullptr, nullptr);
  }
  // The 'errn' the client answers (0 for success), or the send's own error.
  SInt32 Answer(AEEventClass eventClass, AEEventID id, Keyed params) {
    Desc reply;
    OSErr err = Send(eventClass, id, params, &reply);
    return err != noErr ? err : ReplyError(reply);
  }

  void Quit() {
    if (psn_.lowLongOfPSN == 0) return;
    Send(kCoreEventClass, kAEQuitApplication, {});
    waitpid(pid_t(psn_.lowLongOfPSN), nullptr, 0);
    psn_ = {};
  }

  // The mail the client wrote, checked by the independent reader for this client's cases.
  void ExpectMailMatches(const std::string &client) {
    std::string command =
        "python3 " + std::string(STANDIN_READER) + " '" + client + "' '" + data_ + "' '" + Files() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }

  // The file to attach: notes.txt.
  std::string Files() {
    std::string folder = home_ + "/files";
    if (!std::filesystem::exists(folder)) {
      std::filesystem::create_directories(folder);
      std::ofstream(folder + "/notes.txt") << "caf\xc3\xa9 notes\n";
    }
    return folder;
  }

  std::string home_, data_;
  ProcessSerialNumber psn_{};
};

}  // namespace standintest
