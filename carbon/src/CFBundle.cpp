// Constant strings and the calling code's bundle. Strings and bundles are interned for the
// life of the process, so that the references handed out never dangle.
#include <CFBundle.h>

#include <dlfcn.h>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

struct CarbonBundle {
  std::string path;        // the bundle folder
  std::string identifier;  // CFBundleIdentifier, "" when the Info.plist has none
  std::string executable;  // CFBundleExecutable, or the folder's name without ".bundle"
  CFStringRef identifierString;
};

namespace {

constexpr size_t kLargestInfoPlist = 1 << 20;

std::mutex internLock;
std::set<std::string> *internedStrings = new std::set<std::string>;  // never freed: refs live forever
std::map<std::string, CarbonBundle *> *bundlesByPath = new std::map<std::string, CarbonBundle *>;

// The text of <key>name</key><string>value</string> in an Info.plist, or "".
std::string PlistValue(const std::string &plist, const std::string &name) {
  size_t key = plist.find("<key>" + name + "</key>");
  if (key == std::string::npos) return "";
  size_t open = plist.find_first_not_of(" \t\r\n", key + name.size() + 11);
  if (open == std::string::npos || plist.compare(open, 8, "<string>") != 0) return "";
  size_t close = plist.find("</string>", open + 8);
  return close == std::string::npos ? "" : plist.substr(open + 8, close - open - 8);
}

std::string ReadInfoPlist(const std::string &bundle) {
  std::ifstream in(bundle + "/Contents/Info.plist", std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text.size() <= kLargestInfoPlist ? text : "";
}

// The bundle folder of the shared object this code is in, or QUILLCAST_BUNDLE.
std::string FindBundleFolder() {
  Dl_info info{};
  char resolved[PATH_MAX];
  if (dladdr(reinterpret_cast<void *>(&CarbonBundlePath), &info) != 0 && info.dli_fname != nullptr &&
      realpath(info.dli_fname, resolved) != nullptr) {
    std::string object = resolved;
    size_t at = object.rfind("/Contents/MacOS/");
    if (at != std::string::npos && object.find('/', at + 16) == std::string::npos)
      return object.substr(0, at);
  }
  const char *fromEnvironment = std::getenv("QUILLCAST_BUNDLE");
  std::string folder = fromEnvironment ? fromEnvironment : "";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

CarbonBundle *BundleAt(const std::string &folder) {
  auto found = bundlesByPath->find(folder);
  if (found != bundlesByPath->end()) return found->second;
  std::string plist = ReadInfoPlist(folder);
  auto *bundle = new CarbonBundle{folder, PlistValue(plist, "CFBundleIdentifier"),
                                  PlistValue(plist, "CFBundleExecutable"), nullptr};
  if (bundle->executable.empty() || bundle->executable.find('/') != std::string::npos) {
    std::string name = folder.substr(folder.rfind('/') + 1);
    bundle->executable = name.substr(0, name.rfind(".bundle"));
  }
  bundle->identifierString = internedStrings->insert(bundle->identifier).first->c_str();
  (*bundlesByPath)[folder] = bundle;
  return bundle;
}

}  // namespace

CFStringRef CarbonConstantString(const char *cString) {
  std::lock_guard<std::mutex> guard(internLock);
  return internedStrings->insert(cString).first->c_str();
}

const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding) {
  std::lock_guard<std::mutex> guard(internLock);
  const char *text = static_cast<const char *>(theString);
  if (text == nullptr) return nullptr;
  auto found = internedStrings->find(text);
  return found != internedStrings->end() && found->c_str() == text ? text : nullptr;
}

const char *CarbonBundlePath() {
  std::string folder = FindBundleFolder();
  std::lock_guard<std::mutex> guard(internLock);
  return internedStrings->insert(folder).first->c_str();
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
  const char *wanted = CFStringGetCStringPtr(bundleID, kCFStringEncodingUTF8);
  std::string folder = FindBundleFolder();
  if (wanted == nullptr || folder.empty()) return nullptr;
  std::lock_guard<std::mutex> guard(internLock);
  CarbonBundle *bundle = BundleAt(folder);
  return !bundle->identifier.empty() && bundle->identifier == wanted ? bundle : nullptr;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
  return bundle ? bundle->identifierString : nullptr;
}

CFBundleRefNum CFBundleOpenBundleResourceMap(CFBundleRef bundle) {
  if (bundle == nullptr) return -1;
  std::string file = bundle->path + "/Contents/Resources/" + bundle->executable + ".rsrc";
  return CarbonOpenResourceFile(file.c_str());
}

void CFBundleCloseBundleResourceMap(CFBundleRef, CFBundleRefNum refNum) {
  CloseResFile(ResFileRefNum(refNum));
}
