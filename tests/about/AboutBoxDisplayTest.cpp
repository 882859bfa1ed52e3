// The About box as a user meets it: the host runs "WaAb" and "AbTo" in a process of its own
// on a virtual X display (Xvfb), which this test drives with synthetic input (XTest) and
// reads back pixel by pixel; and the same calls with no display at all.
//
// Nothing here waits a fixed time: every wait is for something to happen (a window on the
// screen, ink in its picture, a bell, the host's exit), with a deadline generous enough for
// a loaded machine.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// After everything else: Xlib's macros (None, Bool, Status) would spoil other headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);

// The layout of dialog 32761 in the plug-in's resource file, local to its window.
constexpr XRectangle kVersionLine{20, 125, 340, 12};
constexpr XRectangle kLinkLine{20, 137, 340, 12};
constexpr XRectangle kOKButton{290, 165, 70, 20};
constexpr int kLinkX = 60, kLinkY = 143;
constexpr const char *kTitle = "About Quillcast";
constexpr const char *kURL = "https://quillcast.example/";

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path) << text;
}

// A host process running one script on a machine of its own, with an xdg-open that writes
// down the URLs it is given. The process is killed if the test leaves it running.
class HostRun {
 public:
  HostRun(const std::string &script, const std::vector<std::string> &environment) {
    char folder[] = "/tmp/quillcast-about-XXXXXX";
    dir_ = mkdtemp(folder);
    WriteFile(dir_ + "/script.qcs", script);
    WriteFile(dir_ + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened\"\n");
    chmod((dir_ + "/xdg-open").c_str(), 0755);
    std::vector<std::string> env = {"QUILLCAST_HOME=" + dir_ + "/home", "QUILLCAST_NO_AUTO_INSTALL=1",
                                    "PATH=" + dir_ + ":" + std::getenv("PATH"), "HOME=" + dir_};
    for (char **at = environ; *at != nullptr; at++) {
      if (std::strncmp(*at, "DISPLAY=", 8) != 0 && std::strncmp(*at, "PATH=", 5) != 0) env.push_back(*at);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char *> envp;
    for (std::string &entry : env) {
      if (!entry.empty()) envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string host = std::string(QUILLCAST_BUILD_DIR_PATH) + "/quillcast";
    std::string run = "run", path = dir_ + "/script.qcs";
    char *argv[] = {host.data(), run.data(), path.data(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (dir_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&files, 2, (dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    started_ = Clock::now();
    if (posix_spawn(&pid_, host.c_str(), &files, nullptr, argv, envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&files);
  }

  ~HostRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  HostRun(const HostRun &) = delete;
  HostRun &operator=(const HostRun &) = delete;

  bool Running() { return pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == 0; }

  // Waits for the host to end; true when it ended with status 0.
  bool Finished() {
    while (Running() && Clock::now() - started_ < kPatience + kPatience) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Running()) return false;
    ended_ = Clock::now();
    pid_ = 0;
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }

  Clock::duration Lifetime() const { return ended_ - started_; }
  std::string Output() const { return ReadFile(dir_ + "/stdout"); }
  std::string Errors() const { return ReadFile(dir_ + "/stderr"); }
  std::string Opened() const { return ReadFile(dir_ + "/opened"); }

 private:
  std::string dir_;
  pid_t pid_ = 0;
  int status_ = 0;
  Clock::time_point started_, ended_;
};

bool Until(const std::function<bool()> &condition) {
  for (auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

enum class Ink { kDark, kBlue, kRed };

// What the screen shows of a window: 0xRRGGBB pixels.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;

  bool Is(int x, int y, Ink ink) const {
    uint32_t pixel = pixels[size_t(y) * size_t(width) + size_t(x)];
    int red = int(pixel >> 16) & 255, green = int(pixel >> 8) & 255, blue = int(pixel) & 255;
    switch (ink) {
      case Ink::kDark:
        return red < 0x60 && green < 0x60 && blue < 0x60;
      case Ink::kBlue:
        return blue >= 0x80 && red < 0x60 && green < 0x60;
      case Ink::kRed:
        return red >= 0x80 && green < 0x60 && blue < 0x60;
    }
    return false;
  }

  int Count(const XRectangle &area, Ink ink) const {
    int count = 0;
    for (int y = area.y; y < area.y + area.height; y++) {
      for (int x = area.x; x < area.x + area.width; x++) count += Is(x, y, ink) ? 1 : 0;
    }
    return count;
  }

  // The longest horizontal run of the ink on one row, and the mean length of all runs.
  int LongestRun(const XRectangle &area, Ink ink) const {
    int longest = 0;
    for (int y = area.y; y < area.y + area.height; y++) {
      for (int x = area.x, run = 0; x < area.x + area.width; x++) {
        run = Is(x, y, ink) ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    return longest;
  }

  double MeanRun(const XRectangle &area, Ink ink) const {
    int runs = 0, inked = 0;
    for (int y = area.y; y < area.y + area.height; y++) {
      for (int x = area.x; x < area.x + area.width; x++) {
        if (!Is(x, y, ink)) continue;
        inked++;
        if (x == area.x || !Is(x - 1, y, ink)) runs++;
      }
    }
    return runs > 0 ? double(inked) / runs : 0;
  }
};

// One Xvfb for all the tests of the display, on a display number it chooses itself.
class AboutBoxOnDisplay : public testing::Test {
 protected:
  // A new Xvfb and its name (":N"); false when it does not start.
  static bool StartServer(pid_t *pid, std::string *displayName) {
    int ready[2];
    if (pipe(ready) != 0) return false;
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    std::string fd = std::to_string(ready[1]);
    const char *argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                          "800x600x24", "-nolisten",  "tcp",      nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    bool spawned = posix_spawnp(pid, "Xvfb", &files, nullptr, const_cast<char **>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&files);
    close(ready[1]);
    // The number comes as a line, once the server takes connections.
    std::string number;
    char c;
    while (spawned && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    bool started = !number.empty();
    *displayName = ":" + number;
    return started;
  }

  static void StopServer(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }

  static void SetUpTestSuite() {
    if (StartServer(&server, &name)) display = XOpenDisplay(name.c_str());
    int opcode, error, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (display != nullptr && XkbQueryExtension(display, &opcode, &xkbEvent, &error, &major, &minor)) {
      XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    }
  }

  static void TearDownTestSuite() {
    if (display != nullptr) XCloseDisplay(display);
    display = nullptr;
    StopServer(server);
    server = 0;
  }

  void SetUp() override {
    ASSERT_NE(display, nullptr) << "Xvfb could not be started (bash scripts/setup.sh installs it)";
    ASSERT_GE(xkbEvent, 0) << "the display has no XKB, so bells cannot be heard";
    MoveTo(None, 790, 590);
    Bells();
  }

  HostRun Start(const std::string &selector, const std::vector<std::string> &environment = {}) {
    std::vector<std::string> env = {"DISPLAY=" + name};
    env.insert(env.end(), environment.begin(), environment.end());
    return HostRun("call Init\ncall " + selector + "\nprint closed\n", env);
  }

  // The box's window once it is on the screen, or None.
  static Window Viewable() {
    Window rootReturn, parent, *children = nullptr, found = None;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count))
      return None;
    for (unsigned i = 0; i < count && found == None; i++) {
      XWindowAttributes attributes;
      char *title = nullptr;
      if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
          XFetchName(display, children[i], &title) && title != nullptr && std::strcmp(title, kTitle) == 0) {
        found = children[i];
      }
      if (title != nullptr) XFree(title);
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  static Picture Grab(Window window) {
    Picture picture;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return picture;
    XImage *image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return picture;
    picture.width = attributes.width;
    picture.height = attributes.height;
    for (int y = 0; y < picture.height; y++) {
      for (int x = 0; x < picture.width; x++)
        picture.pixels.push_back(uint32_t(XGetPixel(image, x, y)) & 0xFFFFFF);
    }
    XDestroyImage(image);
    return picture;
  }

  // Whether another client holds the pointer.
  static bool PointerHeld() {
    int grabbed = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask, GrabModeAsync,
                               GrabModeAsync, None, None, CurrentTime);
    if (grabbed == GrabSuccess) XUngrabPointer(display, CurrentTime);
    XSync(display, False);
    return grabbed == AlreadyGrabbed;
  }

  // The box, once it is on the screen, drawn (the version's ink is there), has the keyboard
  // and holds the pointer.
  static Window WaitForBox() {
    Window window = None;
    Until([&] { return (window = Viewable()) != None; });
    if (window == None) return None;
    Until([&] {
      Window focus;
      int revert;
      XGetInputFocus(display, &focus, &revert);
      return focus == window && PointerHeld() && Grab(window).Count(kVersionLine, Ink::kDark) > 0;
    });
    return window;
  }

  // Pointer to a point local to the window (None: the screen).
  static void MoveTo(Window window, int x, int y) {
    Window child;
    int rootX = x, rootY = y;
    if (window != None)
      XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XSync(display, False);
  }

  static void Button(bool down) {
    XTestFakeButtonEvent(display, 1, down, CurrentTime);
    XSync(display, False);
  }

  static void Click(Window window, int x, int y) {
    MoveTo(window, x, y);
    Button(true);
    Button(false);
  }

  static void Key(KeySym key) {
    KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
  }

  // The bells rung since the last call.
  static int Bells() {
    int bells = 0;
    XSync(display, False);
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      auto *xkb = reinterpret_cast<XkbAnyEvent *>(&event);
      if (event.type == xkbEvent && xkb->xkb_type == XkbBellNotify) bells++;
    }
    return bells;
  }

  static inline pid_t server = 0;
  static inline std::string name;
  static inline ::Display *display = nullptr;
  static inline int xkbEvent = -1;
};

TEST_F(AboutBoxOnDisplay, WaitingBoxShowsVersionInBoldLinkUnderlinedInBlueAndOK) {
  HostRun host = Start("WaAb");
  Window box = WaitForBox();
  ASSERT_NE(box, None) << host.Errors();
  Picture picture = Grab(box);

  EXPECT_GT(picture.Count(kVersionLine, Ink::kDark), 40);
  EXPECT_EQ(picture.Count(kVersionLine, Ink::kBlue), 0);
  EXPECT_GT(picture.Count(kLinkLine, Ink::kBlue), 40);
  EXPECT_EQ(picture.Count(kLinkLine, Ink::kDark), 0);
  // The underline: one unbroken blue line under the whole text.
  int textWidth = 0;
  for (int x = kLinkLine.x; x < kLinkLine.x + kLinkLine.width; x++) {
    for (int y = kLinkLine.y; y < kLinkLine.y + kLinkLine.height; y++) {
      if (picture.Is(x, y, Ink::kBlue)) textWidth = x - kLinkLine.x + 1;
    }
  }
  EXPECT_GE(picture.LongestRun(kLinkLine, Ink::kBlue), textWidth - 1);
  // Bold: the version's strokes are thicker than the plain link's (its underline left out).
  XRectangle linkText = kLinkLine;
  linkText.height = 8;
  EXPECT_GT(picture.MeanRun(kVersionLine, Ink::kDark), picture.MeanRun(linkText, Ink::kBlue) + 0.3);
  EXPECT_GT(picture.Count(kOKButton, Ink::kDark), 40);

  Key(XK_Return);
  EXPECT_TRUE(host.Finished()) << host.Errors();
  EXPECT_EQ(host.Output(), "closed\n");
  EXPECT_EQ(host.Errors(), "");
  EXPECT_EQ(Viewable(), None);
}

// Every way out of "WaAb", and the link opening its URL on the way.
TEST_F(AboutBoxOnDisplay, WaitingBoxClosesOnOKReturnEnterOrTheLink) {
  struct Case {
    const char *name;
    std::function<void(Window)> act;
    std::string opened;
  } cases[] = {
      {"OK", [](Window box) { Click(box, kOKButton.x + 35, kOKButton.y + 10); }, ""},
      {"Return", [](Window) { Key(XK_Return); }, ""},
      {"Enter", [](Window) { Key(XK_KP_Enter); }, ""},
      {"link", [](Window box) { Click(box, kLinkX, kLinkY); }, std::string(kURL) + "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HostRun host = Start("WaAb");
    Window box = WaitForBox();
    ASSERT_NE(box, None);
    c.act(box);
    EXPECT_TRUE(host.Finished()) << host.Errors();
    EXPECT_EQ(host.Output(), "closed\n");
    EXPECT_EQ(host.Opened(), c.opened);
  }
}

// The box stays up through a click outside (one beep), a click on the version line, and a
// click on the link released away from it (red while held over it, blue again away).
TEST_F(AboutBoxOnDisplay, WaitingBoxStaysOpenUntilDismissed) {
  HostRun host = Start("WaAb");
  Window box = WaitForBox();
  ASSERT_NE(box, None);

  Click(None, 790, 590);
  EXPECT_TRUE(Until([] { return Bells() == 1; }));
  Click(box, kLinkX, kVersionLine.y + 6);

  MoveTo(box, kLinkX, kLinkY);
  Button(true);
  EXPECT_TRUE(Until([&] { return Grab(box).Count(kLinkLine, Ink::kRed) > 40; }));
  EXPECT_EQ(Grab(box).Count(kLinkLine, Ink::kBlue), 0);
  MoveTo(box, kLinkX, 100);
  EXPECT_TRUE(Until([&] { return Grab(box).Count(kLinkLine, Ink::kBlue) > 40; }));
  Button(false);
  EXPECT_TRUE(Until([&] { return Grab(box).Count(kLinkLine, Ink::kRed) == 0; }));

  EXPECT_TRUE(host.Running());
  EXPECT_NE(Viewable(), None);
  Key(XK_Return);
  EXPECT_TRUE(host.Finished()) << host.Errors();
  EXPECT_EQ(host.Opened(), "");
  EXPECT_EQ(Bells(), 0);
}

TEST_F(AboutBoxOnDisplay, TimedBoxClosesAfterASecondByItself) {
  HostRun host = Start("AbTo");
  EXPECT_TRUE(host.Finished()) << host.Errors();
  EXPECT_GE(host.Lifetime(), std::chrono::seconds(1));
  EXPECT_EQ(Viewable(), None);
}

// With ticks a thousand times as long, only the click can have closed it.
TEST_F(AboutBoxOnDisplay, TimedBoxBeepsAtAClickOutsideAndClosesAtAClickInside) {
  HostRun host = Start("AbTo", {"QUILLCAST_TIME_SCALE=1000"});
  Window box = WaitForBox();
  ASSERT_NE(box, None);
  Click(None, 790, 590);
  EXPECT_TRUE(Until([] { return Bells() == 1; }));
  EXPECT_TRUE(host.Running());
  Click(box, 200, 100);
  EXPECT_TRUE(host.Finished()) << host.Errors();
  EXPECT_EQ(host.Output(), "closed\n");
}

// A display that goes away while the box is up does not take the host with it: the box is
// then answered as one that nobody can see.
TEST_F(AboutBoxOnDisplay, HostOutlivesADisplayThatGoesAway) {
  pid_t own = 0;
  std::string ownName;
  ASSERT_TRUE(StartServer(&own, &ownName));
  HostRun host("call Init\ncall WaAb\nprint closed\n", {"DISPLAY=" + ownName});
  ::Display *shared = display;
  display = XOpenDisplay(ownName.c_str());
  Window box = display != nullptr ? WaitForBox() : None;
  if (display != nullptr) XCloseDisplay(display);
  display = shared;
  StopServer(own);
  ASSERT_NE(box, None);
  EXPECT_TRUE(host.Finished()) << host.Errors();
  EXPECT_EQ(host.Output(), "closed\n");
  EXPECT_NE(host.Errors().find("quillcast: dialog 32761: "), std::string::npos) << host.Errors();
}

// No display (none named, or one that does not answer): nothing waits for anyone. "WaAb" is
// answered at once as if OK were pressed, "AbTo" closes after its second; each says what it
// showed in one line.
TEST(AboutBoxWithoutDisplay, BothReturnWritingOneLineEach) {
  for (const char *display : {"", "DISPLAY=:65535"}) {
    SCOPED_TRACE(display);
    HostRun host("call Init\ncall WaAb\ncall AbTo\nprint closed\n", {display, "QUILLCAST_TIME_SCALE=0.1"});
    ASSERT_TRUE(host.Finished()) << host.Errors();
    EXPECT_EQ(host.Output(), "closed\n");
    const std::string line =
        "quillcast: dialog 32761: "
        "Mail merge for your email client Quillcast 1.0 Visit the Quillcast web site";
    EXPECT_EQ(host.Errors(), std::string(line).append(" [OK]\n").append(line).append("\n"));
  }
}

}  // namespace
