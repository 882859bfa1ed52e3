// Writes a fixed set of messages with the mail store into the folder named on the command
// line, for mailstore_reader.py to read back with an independent parser. Texts are given
// as a client receives them (Mac OS Roman, CR line ends, round-form recipients). Prints one
// line per message: case name, folder ("outbox" or "drafts") and file name.
#include <MacErrors.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailStore.h"
#include "apps/mailstore/MailText.h"

namespace {

std::string Roman(const char *text) {
  return MacRomanToUTF8(text);
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool Write(MailStore *store, const char *name, const MailMessage &message, MailFolder folder) {
  std::string file;
  MailAddress from = ParseMailbox(Roman("demo@quillcast.example (Zo\x91 Demo)"));
  OSErr status = MailStoreWrite(store, message, from, folder, &file);
  if (status != noErr) {
    std::fprintf(stderr, "%s: error %d\n", name, status);
    return false;
  }
  std::printf("%s %s %s\n", name, folder == MailFolder::outbox ? "outbox" : "drafts", file.c_str());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  std::string folder = argv[1];
  std::string binary;
  for (int i = 0; i < 1024; i++) binary += static_cast<char>(i * 7);
  WriteFile(folder + "/R\xc3\xa9sum\xc3\xa9.txt", "caf\xc3\xa9 notes\n");
  WriteFile(folder + "/data.bin", binary);
  OSErr status;
  MailStore *store = MailStoreOpen(folder, &status);
  if (!store) return 1;

  MailMessage full;
  full.to =
      ParseAddressList(Roman("ann@example.com (Ann Lee),b\x9arje@example.com (B\x9arje \xa9 M\x9fller)"));
  full.cc = ParseAddressList(Roman("carl@example.com"));
  full.bcc = ParseAddressList(Roman("dora@example.com (Dora),eve@example.com"));
  full.subject = Roman("Caf\x8e \xd2news\xd3 for you");
  full.body = Roman("Dear Ann,\r\rna\x95ve r\x8esum\x8e attached.\r") + std::string(1200, 'x') + "\r";
  full.attachments = {folder + "/R\xc3\xa9sum\xc3\xa9.txt", folder + "/data.bin"};

  MailMessage plain;
  plain.to = ParseAddressList("ann@example.com");
  plain.subject = "Plain";
  plain.body = "Just ASCII.\r";

  MailMessage draft = plain;
  draft.subject = Roman("Draft \xa5");

  bool ok = Write(store, "full", full, MailFolder::outbox) &&
            Write(store, "empty", MailMessage{}, MailFolder::outbox) &&
            Write(store, "plain", plain, MailFolder::outbox) &&
            Write(store, "draft", draft, MailFolder::drafts);
  MailStoreClose(store);
  return ok ? 0 : 1;
}
