// The stand-in clients' mail store: text conversion, recipients, accounts file, and the
// Maildir writer.
#include <MacErrors.h>
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "apps/mailstore/MacFileFormats.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailConfig.h"
#include "apps/mailstore/MailStore.h"
#include "apps/mailstore/MailText.h"
#include "apps/mailstore/MimeWriter.h"

namespace fs = std::filesystem;

namespace {

struct TempFolder {
  fs::path path;
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "mailstore-test-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path); }
};

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<fs::path> FilesIn(const fs::path &folder) {
  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  return files;
}

}  // namespace

TEST(MailText, ConvertsAndCleansText) {
  EXPECT_EQ(MacRomanToUTF8("caf\x8e \xa5 \xdb \xd2x\xd3 \xc6\xf0"),
            "caf\xc3\xa9 \xe2\x80\xa2 \xe2\x82\xac \xe2\x80\x9cx\xe2\x80\x9d \xe2\x88\x86\xef\xa3\xbf");
  EXPECT_EQ(MacRomanToUTF8(std::string("a\0b", 3)), std::string("a\0b", 3));
  // Greek capital delta is not the increment sign at 0xC6; one half and 中 are not there at all.
  EXPECT_EQ(UTF8ToMacRoman("caf\xc3\xa9 \xe2\x82\xac \xe2\x88\x86\xce\x94 \xc2\xbd\xe4\xb8\xad\xff!"),
            "caf\x8e \xdb \xc6? ??"
            "?!");
  struct {
    std::string in, out;
  } utf8[] = {
      {"plain", "plain"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xc3", "\xef\xbf\xbd"},                                  // cut short
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf0\x9f\x93\xa7", "\xf0\x9f\x93\xa7"},
      {"a\xff\xff"
       "b\xc3\xa9"
       "c\xc3",
       "a\xef\xbf\xbd\xef\xbf\xbd"
       "b\xc3\xa9"
       "c\xef\xbf\xbd"},  // amid valid text
  };
  for (const auto &row : utf8) EXPECT_EQ(ValidUTF8(row.in), row.out) << row.in;
  EXPECT_EQ(UnixLineEnds("a\rb\r\nc\nd\r"), "a\nb\nc\nd\n");
  EXPECT_EQ(HeaderValue(" Hi\r\nBcc: x@y\t "), "Hi  Bcc: x@y");
}

TEST(MailAddress, ParsesRoundAngledAndBareForms) {
  struct {
    const char *item, *name, *address;
  } rows[] = {
      {"user1 (Ann Lee)", "Ann Lee", "user1"},
      {"  user2  ", "", "user2"},
      {"Ann Lee <user1>", "Ann Lee", "user1"},
      {"\"Lee, Ann\" <user1>", "Lee, Ann", "user1"},
      {"<user1> Ann", "Ann", "user1"},
      {"user1 (Ann (A.)", "Ann (A.", "user1"},
      {" (Ann)", "Ann", ""},
      {"Ann <user1", "", "Ann <user1"},
      {"", "", ""},
  };
  for (const auto &row : rows) {
    MailAddress mailbox = ParseMailbox(row.item);
    EXPECT_EQ(mailbox.name, row.name) << row.item;
    EXPECT_EQ(mailbox.address, row.address) << row.item;
  }
  auto list = ParseAddressList("user1 (Lee, Ann),user2, ,\"Smith, Jo\" <user3>,<a,b>");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].name, "Lee, Ann");
  EXPECT_EQ(list[1].address, "user2");
  EXPECT_EQ(list[2].name, "Smith, Jo");
  EXPECT_EQ(list[3].address, "a,b");
  std::string anyBytes;
  for (int i = 0; i < 256; i++) anyBytes += static_cast<char>(i);
  ParseAddressList(anyBytes + "(((<<\"" + anyBytes);  // must not fail or read astray
}

TEST(MailConfig, ParsesAccountsAndSettingsAndSkipsBadLines) {
  MailConfig config;
  std::vector<int> bad;
  int skipped = ParseMailConfig(
      "# comment\n\naccount Work = Ann Lee <ann@work.example>\r\n"
      "account  Home=ann@home.example\nsetting 169 = y\n"
      "account = x@y\naccount NoAddress = (Ann)\nsetting x = 1\nsetting 5 =\nbogus line\naccountX = a@b\n"
      "imap account Lab = Ann Lab <ann@lab.example>\nimap setting 1 = x\nimapaccount Y = y@y\n",
      &config, &bad);
  EXPECT_EQ(skipped, 8);
  EXPECT_EQ(bad, (std::vector<int>{6, 7, 8, 9, 10, 11, 13, 14}));
  ASSERT_EQ(config.accounts.size(), 3u);
  EXPECT_FALSE(config.accounts[1].imap);
  EXPECT_TRUE(config.accounts[2].imap);
  EXPECT_EQ(config.accounts[2].from.address, "ann@lab.example");
  EXPECT_EQ(config.accounts[0].name, "Work");
  EXPECT_EQ(config.accounts[0].from.name, "Ann Lee");
  EXPECT_EQ(config.accounts[1].from.address, "ann@home.example");
  EXPECT_EQ(MailConfigSetting(config, 169), "y");
  EXPECT_EQ(MailConfigSetting(config, 170), "");
  EXPECT_EQ(FindMailAccount(config, "Home"), &config.accounts[1]);
  EXPECT_EQ(FindMailAccount(config, "home"), nullptr);
  EXPECT_EQ(FindMailAccount(config, "home", true), &config.accounts[1]);
  EXPECT_EQ(FindMailAccount(config, "Hom", true), nullptr);  // whole names only
  EXPECT_EQ(FindMailAccount(config, "Homer", true), nullptr);
}

TEST(MailConfig, ReadsServerLinesInAnyOrder) {
  MailConfig config;
  std::vector<int> bad;
  ParseMailConfig(
      "login Work = ann pass with blanks\naccount Work = ann@work.example\nsmtp Work = "
      "smtp://mx.example:587\n"
      "smtp Home = smtps://[::1]\ncertificate Home = /etc/relay.pem\nlogin Other = solo\n"
      "smtp Bad1 = http://mx\nsmtp Bad2 = smtp://mx:0\nsmtp Bad3 = smtp://mx:99999\nsmtp Bad4 = smtp://\n"
      "smtp Bad5 = smtp://mx/../x\nsmtp Bad6 = smtp://mx:25x\n",
      &config, &bad);
  EXPECT_EQ(bad, (std::vector<int>{6, 7, 8, 9, 10, 11, 12}));
  const MailServer *work = FindMailServer(config, "Work");
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(work->url, "smtp://mx.example:587");
  EXPECT_EQ(work->user, "ann");
  EXPECT_EQ(work->password, "pass with blanks");
  ASSERT_NE(FindMailServer(config, "Home"), nullptr);
  EXPECT_EQ(FindMailServer(config, "Home")->certificate, "/etc/relay.pem");
  EXPECT_EQ(FindMailServer(config, "Bad1"), nullptr);
}

TEST(MailConfig, WritesTheDefaultFileWhenMissingAndKeepsAnExistingOne) {
  TempFolder folder;
  MailConfig config;
  ASSERT_EQ(LoadMailConfig(folder.path, &config, "setting 169 = y\n"), noErr);
  ASSERT_EQ(config.accounts.size(), 1u);
  EXPECT_EQ(MailConfigSetting(config, 169), "y");
  EXPECT_EQ(config.accounts[0].name, kDefaultAccountName);
  EXPECT_EQ(config.accounts[0].from.address, "demo@quillcast.example");
  EXPECT_TRUE(fs::exists(folder.path / kMailConfigFileName));

  std::ofstream(folder.path / kMailConfigFileName) << "nothing usable\n";
  ASSERT_EQ(LoadMailConfig(folder.path, &config), noErr);
  EXPECT_EQ(config.accounts[0].name, kDefaultAccountName);  // in memory only
  EXPECT_EQ(ReadFile(folder.path / kMailConfigFileName), "nothing usable\n");
  EXPECT_EQ(LoadMailConfig((folder.path / "missing").string(), &config), dirNFErr);
  EXPECT_EQ(config.accounts.size(), 1u);
}

class MailStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OSErr status = paramErr;
    store = MailStoreOpen(folder.path, &status);
    ASSERT_EQ(status, noErr);
    ASSERT_NE(store, nullptr);
  }
  void TearDown() override { MailStoreClose(store); }
  TempFolder folder;
  MailStore *store = nullptr;
  MailAddress from{"Quillcast Demo", "demo@quillcast.example"};
};

TEST_F(MailStoreTest, WritesWholeMessagesIntoNewWithUniqueNames) {
  MailMessage message;
  message.to = {{"Ann Lee", "ann@example.com"}};
  message.subject = "Hello";
  message.body = "line one\rline two";
  std::string first, second;
  ASSERT_EQ(MailStoreWrite(store, message, from, MailFolder::outbox, &first), noErr);
  ASSERT_EQ(MailStoreWrite(store, message, from, MailFolder::outbox, &second), noErr);
  EXPECT_NE(first, second);
  EXPECT_EQ(FilesIn(folder.path / "outbox/new").size(), 2u);
  EXPECT_TRUE(FilesIn(folder.path / "outbox/tmp").empty());
  EXPECT_TRUE(FilesIn(folder.path / "envelopes").empty());  // no Bcc, no envelope
  std::string text = ReadFile(folder.path / "outbox/new" / first);
  for (const char *field :
       {"From: ", "To: ", "Subject: Hello", "Date: ", "Message-Id: <", "MIME-Version: 1.0"})
    EXPECT_NE(text.find(field), std::string::npos) << field;
  EXPECT_NE(text.find("line one\nline two"), std::string::npos);
  EXPECT_LE(MailStorePending(store), 2);  // the store's own thread may have flushed already
  EXPECT_EQ(MailStoreSync(store), noErr);
  EXPECT_EQ(MailStorePending(store), 0);
}

TEST_F(MailStoreTest, KeepsBccOutOfTheMessageAndInItsEnvelope) {
  MailMessage message;
  message.to = {{"", "ann@example.com"}};
  message.bcc = {{"Carl\r\nX-Evil: 1", "carl@example.com"}};
  std::string name;
  ASSERT_EQ(MailStoreWrite(store, message, from, MailFolder::drafts, &name), noErr);
  std::string text = ReadFile(folder.path / "drafts/new" / name);
  EXPECT_EQ(text.find("carl@"), std::string::npos);
  EXPECT_EQ(text.find("Bcc"), std::string::npos);
  std::string envelope = ReadFile(folder.path / "envelopes" / name);
  EXPECT_NE(envelope.find("carl@example.com"), std::string::npos);
  EXPECT_EQ(envelope.find("\nX-Evil"), std::string::npos);
}

TEST_F(MailStoreTest, RefusesMissingOrSpecialAttachmentsAndWritesNothing) {
  fs::path good = folder.path / "notes.txt";
  std::ofstream(good) << "notes";
  struct {
    fs::path path;
    OSErr status;
  } rows[] = {{folder.path / "missing.pdf", fnfErr},
              {folder.path / "notes.txt/below", fnfErr},
              {folder.path, notAFileErr},
              {"", fnfErr}};
  for (const auto &row : rows) {
    MailMessage message;
    message.bcc = {{"", "carl@example.com"}};
    message.attachments = {good.string(), row.path.string()};
    EXPECT_EQ(MailStoreWrite(store, message, from, MailFolder::outbox), row.status) << row.path;
  }
  EXPECT_TRUE(FilesIn(folder.path / "outbox/new").empty());
  EXPECT_TRUE(FilesIn(folder.path / "envelopes").empty());
  EXPECT_EQ(MailStorePending(store), 0);
}

TEST_F(MailStoreTest, WritesHandedOverMessagesBeforeAnyDirectWrite) {
  MailMessage message;
  message.subject = "later";
  for (int i = 0; i < 300; i++)
    EXPECT_EQ(MailStoreWriteLater(store, message, from, MailFolder::outbox), noErr);
  EXPECT_EQ(MailStoreWrite(store, message, from, MailFolder::drafts), noErr);
  EXPECT_EQ(FilesIn(folder.path / "outbox/new").size(), 300u);
  for (int i = 0; i < 300; i++)
    EXPECT_EQ(MailStoreWriteLater(store, message, from, MailFolder::drafts), noErr);
  MailStoreClose(store);  // writes them before it returns
  store = nullptr;
  EXPECT_EQ(FilesIn(folder.path / "drafts/new").size(), 301u);
}

// Every encoding of the same two files, read back by mac_attachments.py: Python's email
// package for base64 and x-uuencode, Debian's hexbin for BinHex, and a reader of the RFC 1740
// layout for AppleSingle and AppleDouble. The binary file has every byte value and runs of
// 0x90, the byte that BinHex's run-length code escapes.
TEST_F(MailStoreTest, WritesEveryAttachmentEncodingSoThatIndependentReadersGetTheFilesBack) {
  fs::path text = folder.path / "caf\xc3\xa9 notes.txt", binary = folder.path / "data.bin";
  std::ofstream(text) << "caf\xc3\xa9 notes\n";
  std::string bytes;
  for (int i = 0; i < 256; i++) bytes += char(i);
  bytes += std::string(300, 'A') + std::string(5, '\x90') + "x\x90\x90y\x90" + std::string(3, 'B');
  std::ofstream(binary, std::ios::binary) << bytes;
  // The File Manager's type and creator, where this file system keeps extended attributes.
  std::string binaryInfo =
      setxattr(binary.c_str(), "user.quillcast.FinderInfo", "BINAQCst", 8, 0) == 0 ? "BINAQCst" : "????????";
  const std::pair<AttachmentEncoding, const char *> encodings[] = {
      {AttachmentEncoding::base64, "Base64"},
      {AttachmentEncoding::binHex, "BinHex"},
      {AttachmentEncoding::uuencode, "UUEncode"},
      {AttachmentEncoding::appleSingle, "AppleSingle"},
      {AttachmentEncoding::appleDouble, "AppleDouble"}};
  for (const auto &[encoding, name] : encodings) {
    MailMessage message;
    message.subject = name;
    message.attachments = {text.string(), binary.string()};
    message.encoding = encoding;
    ASSERT_EQ(MailStoreWrite(store, message, from, MailFolder::outbox), noErr);
  }
  std::string command = "python3 " QUILLCAST_SOURCE_DIR_PATH "/tests/apps/mac_attachments.py '" +
                        (folder.path / "outbox").string() + "' '" + text.string() + "' 'TEXT\?\?\?\?' '" +
                        binary.string() + "' " + binaryInfo;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// The message's own header fields and body, read back by GMime's parser: every row decodes to
// exactly the texts given, and no header line passes column 78 where it had room to fold.
struct ParsedMessage {
  std::string subject, body;
  std::vector<MailAddress> to;
};

ParsedMessage ParseMessage(const std::string &bytes) {
  ParsedMessage parsed;
  GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
  if (message) {
    const char *subject = g_mime_message_get_subject(message);
    parsed.subject = subject ? subject : "";
    InternetAddressList *to = g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO);
    for (int i = 0; i < internet_address_list_length(to); i++) {
      InternetAddress *mailbox = internet_address_list_get_address(to, i);
      const char *name = internet_address_get_name(mailbox);
      parsed.to.push_back(
          {name ? name : "", internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(mailbox))});
    }
    char *body = g_mime_text_part_get_text(GMIME_TEXT_PART(g_mime_message_get_mime_part(message)));
    parsed.body = body ? body : "";
    g_free(body);
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return parsed;
}

TEST(MimeWriter, ReadersDecodeExactlyTheTextsGivenInLinesThatFold) {
  const std::string many = "Person Number ";
  std::vector<MailAddress> crowd;
  crowd.reserve(8);
  for (int i = 0; i < 8; i++)
    crowd.push_back({many + std::to_string(i), "p" + std::to_string(i) + "@example.com"});
  struct Row {
    std::string subject, body;
    std::vector<MailAddress> to;
  } rows[] = {
      {"Caf\xc3\xa9 news for Ren\xc3\xa9 and a subject line that goes on past the fold limit of "
       "seventy-eight",
       "na\xc3\xafve r\xc3\xa9sum\xc3\xa9 = 5\xe2\x82\xac\rtrailing blanks   \r\ttab at the end\t\r",
       {{"Ren\xc3\xa9 M\xc3\xbcller", "rene@example.com"}, {"Lee, Ann", "ann@example.com"}}},
      {"A literal =?utf-8?q?x?= stays literal, \xc3\xa9  \xc3\xbc and \xc3\xa9  x keep their blanks " +
           std::string(100, 'y'),
       std::string(1200, 'x') + "\rlast line without an end", crowd},
      {std::string(20, 'a') + " " +
           [] {
             std::string cjk;
             for (int i = 0; i < 30; i++) cjk += "\xe4\xb8\xad";
             return cjk;
           }(),
       "\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad\xe6\x96\x87 mostly past ASCII: base64\r",
       {{"O'Brien \"Bob\" \\ Jr.", "bob@example.com"},
        {"", "bare@example.com"},
        {"Dr. Who", "who@example.com"}}},
      {"", "", {{"a  b", "ab@example.com"}}},
  };
  InitMimeWriter();
  for (const Row &row : rows) {
    MailMessage message;
    message.subject = row.subject;
    message.body = row.body;
    message.to = row.to;
    std::string bytes;
    ASSERT_EQ(BuildMimeMessage(message, {"Shop", "shop@example.com"}, {}, "1.quillcast@example.com", &bytes),
              noErr);
    ParsedMessage parsed = ParseMessage(bytes);
    EXPECT_EQ(parsed.subject, row.subject) << bytes;
    EXPECT_EQ(parsed.body, UnixLineEnds(row.body)) << bytes;
    ASSERT_EQ(parsed.to.size(), row.to.size()) << bytes;
    for (size_t i = 0; i < row.to.size(); i++) {
      EXPECT_EQ(parsed.to[i].name, row.to[i].name) << bytes;
      EXPECT_EQ(parsed.to[i].address, row.to[i].address) << bytes;
    }
    std::string head = bytes.substr(0, bytes.find("\n\n"));
    for (size_t at = 0, end; at < head.size(); at = end + 1) {
      end = std::min(head.find('\n', at), head.size());
      EXPECT_LE(end - at, 78u) << head.substr(at, end - at);
    }
  }
}

TEST(MacFileFormats, BinHexChecksumMatchesThePublishedCheckValue) {
  EXPECT_EQ(BinHexCRC("123456789"), 0x31C3);  // CRC-16/XMODEM
  EXPECT_EQ(BinHexCRC(""), 0);
}

TEST(MailStore, ReportsAFolderThatCannotBeMade) {
  OSErr status = noErr;
  EXPECT_EQ(MailStoreOpen("/nonexistent/quillcast", &status), nullptr);
  EXPECT_EQ(status, dirNFErr);
}
