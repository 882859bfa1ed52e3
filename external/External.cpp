// The external table and selector dispatch.
#include "external/External.h"

#include <CFBundle.h>
#include <MacMemory.h>
#include <Resources.h>

#include "about/AboutBox.h"
#include "clients/AccountDiscovery.h"
#include "clients/EmailClients.h"
#include "external/host/HostCallbacks.h"
#include "filemaker/FileMaker.h"
#include "merge/MergePreparation.h"
#include "merge/MergeState.h"
#include "merge/MergedMessage.h"
#include "store/Globals.h"
#include "store/Preferences.h"
#include "store/RecordStore.h"
#include "store/SetupFiles.h"
#include "support/Conversions.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kExternalName[] = "QuillcastExternals";
const char kEmpty[] = "";

RecordStore *Store() {
  return &globals.records;
}

// A missing text counts as the empty one for the selectors that read it.
char *TextOrEmpty(char *text) {
  static char empty[1] = {0};
  return text != nullptr ? text : empty;
}

// The selector code: the first four bytes of args[0], first byte most significant. A shorter
// argument ends in its NUL, which then sits in the code and matches no selector.
OSType SelectorOf(const char *arg) {
  OSType code = 0;
  for (int i = 0; i < 4; i++) {
    code = (code << 8) | UInt8(arg[i]);
    if (arg[i] == 0) return code << (8 * (3 - i));
  }
  return code;
}

// Makes the bundle's resource file current, so that its strings and alerts can be read.
void UseBundleResources() {
  // The identifier is the CFBundleIdentifier of the bundle's Info.plist.
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR("com.quillcast.Quillcast"));
  if (bundle == nullptr) return;
  UseResFile(ResFileRefNum(CFBundleOpenBundleResourceMap(bundle)));
}

// Turns LF into CR in a record just written: the store keeps CR line ends.
void StoreLineEnds(SInt32 index) {
  if (!DictionaryValidIndex(Store(), index)) return;
  ReplaceOverLength(10, 13, DictionaryData(Store(), index), Size(DictionaryLength(Store(), index)));
}

// A second "Init" starts from a new store; the old one is released, not leaked.
char *SelectInit(char *, SInt32) {
  RecordStore fresh = {};
  if (!InitDictionary(&fresh)) return BoolToPointer(false);
  KillDictionary(Store());
  *Store() = fresh;
  return LoadPreferences();
}

char *SelectKill(char *text, SInt32) {
  SavePreferences(text);
  KillDictionary(Store());
  return nullptr;
}

char *SelectClear(char *, SInt32) {
  RecordStore fresh = {};
  if (InitDictionary(&fresh)) {
    KillDictionary(Store());
    *Store() = fresh;
  }
  return nullptr;
}

char *SelectAppend(char *, SInt32) {
  return BoolToPointer(DictionaryAppend(Store()));
}

// "AddD": text[0] is the separator the script used, text[1] the one to store instead, and
// the data starts at text[2]. A text shorter than two characters stores an empty record.
char *SelectAddData(char *text, SInt32) {
  if (!DictionaryAppend(Store())) return BoolToPointer(false);
  text = TextOrEmpty(text);
  char *data = text[0] != 0 && text[1] != 0 ? text + 2 : text + std::strlen(text);
  if (data != text) ReplaceCharacters(UInt8(text[0]), UInt8(text[1]), data);
  SInt32 index = DictionaryItems(Store()) - 1;
  Boolean written = DictionaryWrite(Store(), index, data, UInt32(std::strlen(data)));
  if (written) StoreLineEnds(index);
  return BoolToPointer(written);
}

char *SelectWrite(char *text, SInt32 number) {
  text = TextOrEmpty(text);
  Boolean written = DictionaryWrite(Store(), number, text, UInt32(std::strlen(text)));
  if (written) StoreLineEnds(number);
  return BoolToPointer(written);
}

// An index outside the store (or no store) reads as the empty text.
char *SelectRead(char *, SInt32 number) {
  UInt32 length = DictionaryValidIndex(Store(), number) ? DictionaryLength(Store(), number) : 0;
  auto *record = static_cast<char *>(std::malloc(size_t(length) + 1));
  if (record == nullptr) return nullptr;
  if (length > 0) DictionaryRead(Store(), number, record, length);
  ReplaceOverLength(13, 10, record, Size(length));
  record[length] = 0;
  return record;
}

char *SelectRemove(char *, SInt32 number) {
  DictionaryRemove(Store(), number);
  return nullptr;
}

char *SelectRemoveFirst(char *, SInt32 number) {
  DictionaryRemoveMultiple(Store(), 0, number);
  return nullptr;
}

char *SelectItems(char *, SInt32) {
  return LongToPointer(DictionaryItems(Store()));
}
char *SelectScreen(char *, SInt32) {
  return GetFullScreenRectangle();
}
char *SelectGestalt(char *, SInt32) {
  return BoolToPointer(true);
}

// A list handle as a host string: CR line ends become LF; the handle is disposed.
char *ListToPointer(Handle list) {
  char *text = HandleKillToPointer(list);
  ReplaceCharacters(13, 10, text);
  return text;
}

char *SelectClients(char *, SInt32) {
  return ListToPointer(GetEmailClientInfoHandle());
}
char *SelectEncodings(char *text, SInt32) {
  return ListToPointer(GetEmailClientEncodings(TextOrEmpty(text)));
}
char *SelectSupportsHTML(char *text, SInt32) {
  return BoolToPointer(GetEmailClientSupportsHTML(TextOrEmpty(text)) != 0);
}
// While a merge is prepared the answer is for its client, whatever name is given.
char *SelectAccounts(char *text, SInt32) {
  return ListToPointer(GetEmailClientAccounts(TextOrEmpty(text), connection));
}
char *SelectStart(char *text, SInt32) {
  return BoolToPointer(StartEmailClientConnection(TextOrEmpty(text)));
}
char *SelectMerge(char *, SInt32 number) {
  return BoolToPointer(CreateMergedEmailMessage(number));
}
char *SelectFinish(char *, SInt32) {
  FinishEmailClientConnection();
  return nullptr;
}

// The About box, for a second or until the first click.
char *SelectAbout(char *, SInt32) {
  ShowAboutDialog();
  WaitForAboutDialogJustClick(60);
  return nullptr;
}

// The About box with its OK button, until it is dismissed.
char *SelectAboutWait(char *, SInt32) {
  ShowAboutDialog();
  WaitForAboutDialog(-1);
  return nullptr;
}

// Records fetched by "Recv" in one call.
constexpr SInt32 kReceiveBatch = 10;

char *SelectFileMaker(char *, SInt32) {
  return BoolToPointer(FindFileMaker());
}
char *SelectFields(char *, SInt32) {
  return ListToPointer(GetFieldNames());
}
char *SelectRetrieve(char *, SInt32 number) {
  return ListToPointer(RetrieveRecord(number));
}
char *SelectReceive(char *, SInt32 number) {
  return BoolToPointer(ReceiveRecords(number, kReceiveBatch));
}

char *SelectOpen(char *text, SInt32) {
  return BoolToPointer(OpenFile(TextOrEmpty(text)));
}
char *SelectSave(char *text, SInt32) {
  return BoolToPointer(SaveFile(TextOrEmpty(text)));
}

struct SelectorEntry {
  OSType selector;
  SelectorHandler handler;
};

// Selectors of subsystems not in this table answer nothing.
const SelectorEntry kSelectors[] = {
    {FourCC("Init"), SelectInit},         {FourCC("Kill"), SelectKill},
    {FourCC("Cler"), SelectClear},        {FourCC("Apnd"), SelectAppend},
    {FourCC("AddD"), SelectAddData},      {FourCC("Wrte"), SelectWrite},
    {FourCC("Read"), SelectRead},         {FourCC("Rmve"), SelectRemove},
    {FourCC("RmFi"), SelectRemoveFirst},  {FourCC("Itms"), SelectItems},
    {FourCC("ScRe"), SelectScreen},       {FourCC("Gest"), SelectGestalt},
    {FourCC("Clnt"), SelectClients},      {FourCC("Encd"), SelectEncodings},
    {FourCC("sHTM"), SelectSupportsHTML}, {FourCC("Acts"), SelectAccounts},
    {FourCC("Strt"), SelectStart},        {FourCC("Merg"), SelectMerge},
    {FourCC("Fnsh"), SelectFinish},       {FourCC("AbTo"), SelectAbout},
    {FourCC("WaAb"), SelectAboutWait},    {FourCC("FMPx"), SelectFileMaker},
    {FourCC("Flds"), SelectFields},       {FourCC("Retr"), SelectRetrieve},
    {FourCC("Recv"), SelectReceive},      {FourCC("Open"), SelectOpen},
    {FourCC("Save"), SelectSave},
};

}  // namespace

const char *const g_external_name = kExternalName;

const XTableEntry g_external_table[2] = {
    {kExternalName, "F", 0, ExternalMain, 0},
    {kEmpty, kEmpty, 0, nullptr, 0},
};

extern "C" void getXtable(const XCallback *operations, XDeleteRoutine deleteRoutine, const char **nameOut,
                          const XTableEntry **tableOut, XFreeRoutine *freeOut) {
  SetHostCallbacks(operations, deleteRoutine);
  *nameOut = g_external_name;
  *tableOut = g_external_table;
  *freeOut = std::free;
}

void ExternalMain(char **args, int32_t argCount, char **result, int32_t *pass, int32_t *error) {
  *pass = 0;
  *error = 0;
  OSType selector = argCount >= 1 && args[0] != nullptr ? SelectorOf(args[0]) : 0;
  char *text = argCount >= 2 ? args[1] : nullptr;
  SInt32 number = argCount >= 3 && args[2] != nullptr ? PointerToLong(args[2]) : 0;
  if (selector == FourCC("Init")) UseBundleResources();
  *result = CallExternal(selector, text, number);
}

char *CallExternal(OSType selector, char *text, SInt32 number) {
  for (const SelectorEntry &entry : kSelectors) {
    if (entry.selector == selector) return entry.handler(text, number);
  }
  return nullptr;
}
