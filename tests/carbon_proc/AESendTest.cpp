// Launching the echo application as a real process and exchanging events with it: replies,
// errors, order, time-outs, processes that die, notices from the Process Manager, the
// trace, the journal, and connections from other users.
#include "ProcTestSupport.h"

#include "apps/kit/StandInApp.h"

#include "AETrace.h"
#include "AEWire.h"
#include "CarbonPaths.h"
#include "ProcTime.h"
#include "ProcessTable.h"

#include <MacErrors.h>
#include <MachineFolder.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

namespace proctest {
namespace {

class AESendTest : public FreshMachine {
 protected:
  void SetUp() override {
    FreshMachine::SetUp();
    ASSERT_EQ(LaunchEcho(&echo_), noErr);
  }

  std::string Journal() { return carbon::DataFolderFor("Echo") + "/journal.log"; }

  static bool WaitUntilGone(pid_t pid) {
    for (int tries = 0; tries < 400; tries++) {
      uint64_t started;
      if (!carbon::ProcessStartTime(pid, &started)) return true;
      usleep(5000);
    }
    return false;
  }

  ProcessSerialNumber echo_{};
};

TEST_F(AESendTest, LaunchedApplicationAnswersAndEveryEventIsTracedAndJournalled) {
  std::string trace = carbon::MachineFolder() + "/trace.txt";
  setenv("QUILLCAST_AE_TRACE", trace.c_str(), 1);
  ProcessSerialNumber front{};
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  EXPECT_EQ(front.lowLongOfPSN, echo_.lowLongOfPSN);

  AppleEvent event = EventTo(echo_, kEchoClass, FourCC("echo"));
  ASSERT_EQ(AEPutParamPtr(&event, keyDirectObject, typeChar, "Hello", 5), noErr);
  AppleEvent reply;
  ASSERT_EQ(AESend(&event, &reply, 0x43, kAENormalPriority, 1200, nullptr, nullptr), noErr);
  std::vector<std::string> expected{carbon::AEPrintLine(&event), carbon::AEPrintLine(&reply)};
  EXPECT_EQ(expected[1], "'aevt'\\'ansr'{ '----':\"Hello\" }");
  EXPECT_EQ(ReadLines(trace), expected);
  std::vector<std::string> events = ReadLines(Journal());
  std::erase_if(events, [](const std::string &line) { return line[0] == '#'; });  // the kit's own notes
  EXPECT_EQ(events, std::vector<std::string>{expected[0]});
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
}

TEST_F(AESendTest, AddressesByProcessSignatureAndKernelPid) {
  pid_t pid = pid_t(echo_.lowLongOfPSN);
  OSType creator = kEchoCreator;
  OSType other = FourCC("None");
  struct {
    DescType type;
    const void *data;
    Size size;
    OSErr expected;
  } cases[] = {
      {typeProcessSerialNumber, &echo_, 8, noErr},    {typeKernelProcessID, &pid, 4, noErr},
      {typeApplSignature, &creator, 4, noErr},        {typeApplSignature, &other, 4, procNotFound},
      {typeChar, "Echo", 4, errAEUnknownAddressType},
  };
  for (const auto &row : cases) {
    AEAddressDesc target;
    AppleEvent event;
    AppleEvent reply;
    ASSERT_EQ(AECreateDesc(row.type, row.data, row.size, &target), noErr);
    ASSERT_EQ(AECreateAppleEvent(kEchoClass, FourCC("echo"), &target, -1, 0, &event), noErr);
    EXPECT_EQ(AESend(&event, &reply, 0x43, 0, 600, nullptr, nullptr), row.expected) << row.type;
    AEDisposeDesc(&target);
    AEDisposeDesc(&event);
    AEDisposeDesc(&reply);
  }
}

TEST_F(AESendTest, HandlerErrorsComeBackInTheReply) {
  struct {
    AEEventID id;
    SInt32 direct;
    SInt32 errn;
  } cases[] = {{FourCC("fail"), errAENoSuchObject, errAENoSuchObject},
               {FourCC("nope"), 0, errAEEventNotHandled},
               {FourCC("echo"), 7, 0}};
  for (const auto &row : cases) {
    AppleEvent reply;
    ASSERT_EQ(SendEcho(echo_, row.id, &reply, 0x43, 600, &row.direct), noErr);
    EXPECT_EQ(ReplyParam<SInt32>(reply, keyErrorNumber, typeSInt32), row.errn);
    AEDisposeDesc(&reply);
  }
}

TEST_F(AESendTest, EventsArriveInTheOrderSent) {
  constexpr SInt32 kCount = 1000;
  for (SInt32 i = 0; i < kCount; i++) {
    AppleEvent reply;
    ASSERT_EQ(SendEcho(echo_, FourCC("note"), &reply, 0x41, 1200, &i), noErr);
    ASSERT_EQ(reply.descriptorType, typeNull);
    ASSERT_EQ(reply.dataHandle, nullptr);
  }
  AppleEvent reply;
  ASSERT_EQ(SendEcho(echo_, FourCC("list"), &reply, 0x43, 1200), noErr);
  AEDescList list;
  ASSERT_EQ(AEGetParamDesc(&reply, keyDirectObject, typeAEList, &list), noErr);
  long count = 0;
  ASSERT_EQ(AECountItems(&list, &count), noErr);
  ASSERT_EQ(count, kCount);
  for (long i = 1; i <= count; i++) {
    SInt32 value = -1;
    ASSERT_EQ(AEGetNthPtr(&list, i, typeSInt32, nullptr, nullptr, &value, 4, nullptr), noErr);
    ASSERT_EQ(value, i - 1);
  }
  AEDisposeDesc(&list);
  AEDisposeDesc(&reply);
}

TEST_F(AESendTest, ProcessesThatAreGoneOrDieGiveErrorsNotHangs) {
  AppleEvent reply;
  ASSERT_EQ(SendEcho(echo_, FourCC("die "), &reply, 0x43, kNoTimeOut), connectionInvalid);
  EXPECT_EQ(reply.descriptorType, typeNull);
  ASSERT_TRUE(WaitUntilGone(pid_t(echo_.lowLongOfPSN)));
  EXPECT_EQ(SendEcho(echo_, FourCC("echo"), &reply, 0x43, kNoTimeOut), procNotFound);

  // An event sent without a reply is still confirmed once handled: dying on it fails the send.
  ProcessSerialNumber second{};
  ASSERT_EQ(LaunchEcho(&second), noErr);
  EXPECT_EQ(SendEcho(second, FourCC("die "), &reply, 0x41, kNoTimeOut), connectionInvalid);
  ASSERT_TRUE(WaitUntilGone(pid_t(second.lowLongOfPSN)));

  ProcessSerialNumber third{};
  ASSERT_EQ(LaunchEcho(&third), noErr);
  ASSERT_EQ(SendEcho(third, FourCC("echo"), &reply, 0x43, 600), noErr);  // a connection is open now
  AEDisposeDesc(&reply);
  KillAndWait(pid_t(third.lowLongOfPSN));
  EXPECT_EQ(SendEcho(third, FourCC("echo"), &reply, 0x43, kNoTimeOut), procNotFound);
  EXPECT_EQ(SendEcho(third, FourCC("echo"), &reply, 0x41, kNoTimeOut), procNotFound);
  ProcessSerialNumber psn{0, kNoProcess};
  EXPECT_EQ(GetNextProcess(&psn), procNotFound);  // every entry was stale
}

TEST_F(AESendTest, HangingHandlerTimesOutAndTheApplicationStillQuitsOnSIGTERM) {
  AppleEvent reply;
  int64_t start = carbon::MonotonicNanos();
  EXPECT_EQ(SendEcho(echo_, FourCC("hang"), &reply, 0x43, 60), errAETimeout);  // one second, scaled
  double seconds = double(carbon::MonotonicNanos() - start) / 1e9;
  EXPECT_GE(seconds, 60 / 60.0 * carbon::TimeScale() * 0.9);
  EXPECT_LT(seconds, 1.0);
  // Sent without a reply, an event behind the hung one is not confirmed either.
  EXPECT_EQ(SendEcho(echo_, FourCC("echo"), &reply, 0x41, 1), errAETimeout);

  pid_t pid = pid_t(echo_.lowLongOfPSN);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_TRUE(WaitUntilGone(pid));
  EXPECT_NE(access(carbon::EntryPathFor(pid).c_str(), F_OK), 0);  // it unregistered itself
  EXPECT_NE(access(carbon::SocketPathFor(pid).c_str(), F_OK), 0);
}

TEST_F(AESendTest, StaleRepliesOfTimedOutEventsArePassedOver) {
  // 'slow' answers long after the sender has given up; the next wait must get its own
  // reply, not the late one.
  SInt32 first = 1;
  SInt32 second = 2;
  AppleEvent reply;
  EXPECT_EQ(SendEcho(echo_, FourCC("slow"), &reply, 0x43, 1, &first), errAETimeout);
  ASSERT_EQ(SendEcho(echo_, FourCC("echo"), &reply, 0x43, 600, &second), noErr);
  EXPECT_EQ(ReplyParam<SInt32>(reply, keyDirectObject, typeSInt32), second);
  AEDisposeDesc(&reply);
}

TEST_F(AESendTest, ApplicationLearnsVisibilityAndFrontAndQuitsOnRequest) {
  ProcessSerialNumber host{0, kCurrentProcess};
  ASSERT_EQ(ShowHideProcess(&echo_, false), noErr);
  EXPECT_FALSE(IsProcessVisible(&echo_));
  ASSERT_EQ(SetFrontProcess(&host), noErr);
  AppleEvent reply;
  ASSERT_EQ(SendEcho(echo_, FourCC("stat"), &reply, 0x43, 600), noErr);
  EXPECT_EQ(ReplyParam<Boolean>(reply, FourCC("pvis"), typeBoolean, 2), 0);
  EXPECT_EQ(ReplyParam<Boolean>(reply, FourCC("pisf"), typeBoolean, 2), 0);
  AEDisposeDesc(&reply);
  std::vector<std::string> journal = ReadLines(Journal());
  EXPECT_TRUE(Contains(journal, "# visible 0"));
  EXPECT_TRUE(Contains(journal, "# front 0"));

  AppleEvent quit = EventTo(echo_, kCoreEventClass, kAEQuitApplication);
  EXPECT_EQ(AESend(&quit, &reply, 0x43, 0, 600, nullptr, nullptr), noErr);
  EXPECT_EQ(ReplyParam<SInt32>(reply, keyErrorNumber, typeSInt32), 0);
  AEDisposeDesc(&quit);
  AEDisposeDesc(&reply);
  EXPECT_TRUE(WaitUntilGone(pid_t(echo_.lowLongOfPSN)));
  EXPECT_NE(access(carbon::EntryPathFor(pid_t(echo_.lowLongOfPSN)).c_str(), F_OK), 0);
}

TEST_F(AESendTest, ApplicationsThatCannotStartAreReported) {
  ASSERT_EQ(LaunchEcho(&echo_, launchContinue | launchDontSwitch), noErr);
  ProcessSerialNumber front{};
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  EXPECT_NE(front.lowLongOfPSN, echo_.lowLongOfPSN);  // the first Echo stays in front

  std::string volume = ApplicationsFolder();
  ASSERT_EQ(standin::InstallApplication(volume, "Quitter", FourCC("Quit"), "/bin/true"), noErr);
  ASSERT_EQ(standin::InstallApplication(volume, "Missing", FourCC("Miss"), volume + "/nothing"), noErr);
  struct {
    std::string path;
    OSErr expected;
  } cases[] = {{volume + "/Quitter.app", procNotFound},  // exits before it registers
               {volume + "/Missing.app", fnfErr},
               {volume + "/Nowhere.app", fnfErr}};
  for (const auto &row : cases) {
    FSSpec spec{};
    ASSERT_EQ(carbon::PathToFSSpec(row.path, &spec), noErr);
    LaunchParamBlockRec params{};
    params.launchAppSpec = &spec;
    params.launchControlFlags = launchContinue | launchNoFileFlags;
    EXPECT_EQ(LaunchApplication(&params), row.expected) << row.path;
  }
}

// A header announcing one byte more than a frame may hold breaks the stream as soon as it
// arrives, instead of leaving the reader waiting for a body that will never be taken.
TEST(FrameReader, HeaderPastTheFrameLimitBreaksTheStreamAtOnce) {
  for (uint32_t length : {carbon::kMaxFrameBody, carbon::kMaxFrameBody + 1}) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    uint8_t header[carbon::kFrameHeaderSize];
    carbon::PutFrameHeader(header, {carbon::kFrameReply, 7, length});
    ASSERT_EQ(write(fds[0], header, sizeof header), ssize_t(sizeof header));
    carbon::FrameReader reader;
    carbon::FrameHeader got;
    std::vector<uint8_t> body;
    ASSERT_EQ(reader.Fill(fds[1]), carbon::WireStatus::kOK);
    EXPECT_FALSE(reader.Next(&got, &body));
    EXPECT_EQ(reader.Broken(), length > carbon::kMaxFrameBody) << length;
    close(fds[0]);
    close(fds[1]);
  }
}

TEST_F(AESendTest, ConnectionsFromOtherUsersAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs to become another user";
  std::string socket = carbon::SocketPathFor(pid_t(echo_.lowLongOfPSN));
  // Let the other user reach the socket at all.
  ASSERT_EQ(chmod(home_.c_str(), 0711), 0);
  ASSERT_EQ(chmod(carbon::RunFolder().c_str(), 0711), 0);
  ASSERT_EQ(chmod(socket.c_str(), 0666), 0);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    int fd = carbon::ConnectToSocket(socket);
    if (fd < 0) _exit(3);
    uint8_t frame[carbon::kFrameHeaderSize];
    carbon::PutFrameHeader(frame, {carbon::kFrameEventWantsReply, 1, 0});
    carbon::WriteAll(fd, frame, sizeof frame, carbon::DeadlineAfterSeconds(2));
    carbon::FrameReader reader;
    carbon::WireStatus status = carbon::WaitReadable(fd, carbon::DeadlineAfterSeconds(2));
    if (status == carbon::WireStatus::kOK) status = reader.Fill(fd);
    _exit(status == carbon::WireStatus::kClosed ? 0 : 4);
  }
  int status = 0;
  waitpid(child, &status, 0);
  chmod(carbon::RunFolder().c_str(), 0700);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  AppleEvent reply;
  ASSERT_EQ(SendEcho(echo_, FourCC("echo"), &reply, 0x43, 600), noErr);  // the journal is written by now
  AEDisposeDesc(&reply);
  EXPECT_TRUE(Contains(ReadLines(Journal()), "# refused uid 65534"));
}

}  // namespace
}  // namespace proctest
