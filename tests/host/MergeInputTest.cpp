// What `quillcast merge` reads before anything is sent: CSV rows and the lines they start on,
// the template file, the check's findings, the host's own merge of recipients and
// attachments, and the journal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/Csv.h"
#include "host/Journal.h"
#include "host/MergeTemplate.h"
#include "host/Preflight.h"

namespace {

namespace fs = std::filesystem;
using namespace host;

struct CsvCase {
  const char *name;
  std::string text;
  std::vector<int> lines;  // where each row starts
  std::vector<std::vector<std::string>> rows;
};

TEST(CsvTest, RowsKnowTheLineTheyStartOn) {
  const CsvCase cases[] = {
      {"byte-order mark and CRLF",
       "\xEF\xBB\xBFName,Note\r\nAnn,x\r\nBob,y\r\n",
       {2, 3},
       {{"Ann", "x"}, {"Bob", "y"}}},
      {"quoted line breaks and blank lines",
       "Name,Note\nAnn,\"two\nlines\"\n\n\nBob,\"a \"\"quote\"\", a, comma\"\nCleo,\"x\r\ny\"\nDan,end",
       {2, 6, 7, 9},
       {{"Ann", "two\nlines"}, {"Bob", "a \"quote\", a, comma"}, {"Cleo", "x\r\ny"}, {"Dan", "end"}}},
      {"classic Mac line ends", "Name\rAnn\rBob\r", {2, 3}, {{"Ann"}, {"Bob"}}},
      {"a row that starts with a quoted line break",
       "A,B\n\"\nx\",y\nz,w\n",
       {2, 4},
       {{"\nx", "y"}, {"z", "w"}}},
  };
  for (const CsvCase &c : cases) {
    CsvTable table;
    std::string error;
    ASSERT_TRUE(ParseCsv(c.text, &table, &error)) << c.name << ": " << error;
    ASSERT_EQ(table.rows.size(), c.rows.size()) << c.name;
    for (size_t i = 0; i < c.rows.size(); i++) {
      EXPECT_EQ(table.rows[i].line, c.lines[i]) << c.name << " row " << i;
      EXPECT_EQ(table.rows[i].fields, c.rows[i]) << c.name << " row " << i;
    }
  }
}

TEST(CsvTest, BadTextNamesItsLineAndLongRowsAreCounted) {
  const std::pair<std::string, std::string> bad[] = {
      {"Name,Email\nAnn,a@x\n\"Bob,b@x\nCleo,c@x\n", "line 3: a quotation mark that never closes"},
      {"Name,Email\nAnn,a@x\nB\"ob,b@x\n", "line 3: a quotation mark inside an unquoted field"},
      {"", "no header row naming the fields"},
      {std::string(kCsvMaxColumns + 1, ',') + "\n", "line 1: more than 32000 columns"},
  };
  for (const auto &[text, message] : bad) {
    CsvTable table;
    std::string error;
    EXPECT_FALSE(ParseCsv(text, &table, &error));
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
  }
  CsvTable table;
  std::string error;
  ASSERT_TRUE(ParseCsv("A,B\n1,2,3,4\n5\n", &table, &error));
  EXPECT_EQ(table.rows[0].fields.size(), 2u);
  EXPECT_EQ(table.rows[0].extraFields, 2u);
  EXPECT_EQ(table.rows[1].fields.size(), 1u);
}

TEST(MergeTemplateTest, HeadersBecomeTheExternalsTexts) {
  std::string text =
      "to: {{ First }} <{{Email}}>\n"
      "Cc: boss@example.com,\n"
      "  audit@example.com\n"
      "Cc: \xC2\xAB"
      "Deputy\xC2\xBB\n"
      "Subject: Caf\xC3\xA9 n\xC2\xB0 {{\xC2\xA7\xE2\x88\x86}}\n"
      "Encoding: base64\n"
      "HTML: yes\n"
      "\n"
      "Dear {{First}},\r\n{{ not a {{placeholder\n";
  MergeTemplate letter;
  std::string error;
  ASSERT_TRUE(ParseMergeTemplate("t.txt", text, &letter, &error)) << error;
  EXPECT_EQ(TemplateText(letter, TemplateHeader::to),
            "\xC7"
            "First\xC8 <\xC7"
            "Email\xC8>");
  EXPECT_EQ(TemplateText(letter, TemplateHeader::cc),
            "boss@example.com, audit@example.com, \xC7"
            "Deputy\xC8");
  EXPECT_EQ(TemplateText(letter, TemplateHeader::subject), "Caf\x8E n\xA1 \xC7\xA4\xC6\xC8");
  EXPECT_EQ(TemplateText(letter, TemplateHeader::encoding), "Base64");
  EXPECT_EQ(TemplateText(letter, TemplateHeader::html), "true");
  EXPECT_EQ(TemplateText(letter, TemplateHeader::body),
            "Dear \xC7"
            "First\xC8,\n{{ not a {{placeholder\n");
  EXPECT_EQ(letter.parts.back().line, 9);
}

TEST(MergeTemplateTest, BadTemplatesNameFileAndLine) {
  const std::pair<std::string, std::string> bad[] = {
      {"To: a@example.com\nSubject: hi\n", "t.txt: no blank line"},
      {"To: a@example.com\nFrom: me@example.com\n\n", "t.txt:2: unknown header \"From\""},
      {"Dear Ann,\n\nbody\n", "t.txt:1: \"Dear Ann,\" is not a header line"},
      {"Subject: a\nTo: x@example.com\nsubject: b\n\n", "t.txt:3: Subject is given twice (also on line 1)"},
      {"Encoding: Zip\n\n", "t.txt:1: unknown encoding \"Zip\""},
      {"HTML: maybe\n\n", "t.txt:1: HTML: must be true or false"},
      {"To: a@example.com\n\nline two\nsnow \xE2\x98\x83\n", "t.txt:4: U+2603"},
      {"Subject: \xC3\x28\n\n", "t.txt:1: bytes that are not UTF-8"},
  };
  for (const auto &[text, message] : bad) {
    MergeTemplate letter;
    std::string error;
    EXPECT_FALSE(ParseMergeTemplate("t.txt", text, &letter, &error)) << message;
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
  }
}

TEST(MergeRecordTextTest, MergesAsTheExternalDoes) {
  FieldIndex index({"First", "Last", "\x83mile"});  // \x83 is É; é (\x8E) folds to it
  std::vector<std::string> values = {"Ann", "Lee"};
  const std::pair<std::string, std::string> cases[] = {
      {"Dear \xC7"
       "first\xC8 \xC7LAST\xC8",
       "Dear Ann Lee"},
      {"\xC7"
       "a\xC7Last\xC8",
       "\xC7"
       "aLee"},                                                              // a second « restarts the name
      {"\xC7Lastname\xC8 \xC8 \xC7\xC8", "\xC7Lastname\xC8 \xC8 \xC7\xC8"},  // no such field: literal
      {"No. \xC7\xA4\xC6\xC8", "No. 42"},
      {"[\xC7\x8Emile\xC8]", "[]"},  // a field the record is too short for
  };
  for (const auto &[text, merged] : cases) EXPECT_EQ(MergeRecordText(text, index, values, 42), merged);
}

// A data folder with a template folder inside, and files to attach in and outside it.
class PreflightTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("preflight-" + std::to_string(getpid()));
    fs::create_directories(root_ / "letters" / "files");
    std::ofstream(root_ / "letters" / "files" / "a.pdf") << "a";
    std::ofstream(root_ / "secret") << "s";
    fs::create_symlink(root_ / "secret", root_ / "letters" / "files" / "link");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::vector<Finding> Check(const std::string &csv, const std::string &letter, bool allowAny = false) {
    CsvTable table;
    std::string error;
    EXPECT_TRUE(ParseCsv(csv, &table, &error)) << error;
    input_ = MergeInput();
    input_.dataPath = "d.csv";
    EXPECT_TRUE(ParseMergeTemplate("t.txt", letter, &input_.letter, &error)) << error;
    input_.templateFolder = fs::canonical(root_ / "letters").string();
    std::vector<Finding> findings;
    ConvertRecords(table, &input_, &findings);
    CheckRecords(&input_, allowAny, &findings);
    return findings;
  }

  static std::vector<std::string> Texts(const std::vector<Finding> &findings) {
    std::vector<std::string> texts;
    texts.reserve(findings.size());
    for (const Finding &finding : findings) texts.push_back(finding.where + ": " + finding.what);
    return texts;
  }

  fs::path root_;
  MergeInput input_;
};

TEST_F(PreflightTest, FindsWhatWouldGoWrongNamingTheLine) {
  std::string csv =
      "Name,Email\n"
      "Ann,ann@example.com\n"
      "Bob,\n"
      "\"Cleo\nLee\",not-an-address\n"
      "Dan,ANN@example.com\n"
      "\xC5\x81ukasz,lukasz@example.com\n"
      "Eve,eve@example.com,extra\n";
  std::vector<std::string> findings = Texts(Check(csv, "To: {{Name}} <{{Email}}>\nSubject: Hi {{Nmae}}\n\n"));
  std::vector<std::string> expected = {
      "t.txt:2: placeholder «Nmae» names no field of d.csv",
      "d.csv:3: To holds \"Bob <>\", which is not an address",
      "d.csv:4: To holds \"Cleo\nLee <not-an-address>\", which is not an address",
      "d.csv:6: ANN@example.com is already a recipient on line 2",
      "d.csv:7: field \"Name\" holds U+0141 'Ł' cannot be written in Mac OS Roman",
      "d.csv:8: 3 fields, but the header names 2",
  };
  std::vector<std::string> sorted = findings;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
  EXPECT_TRUE(input_.records[1].hasRecipients);
  EXPECT_EQ(input_.records[4].values[0], "?ukasz");  // a forced merge still gets the whole field

  // A NUL would end the text handed to the external, and 0xFF (ˇ) would split the field.
  findings = Texts(
      Check("Name,Email\nA" + std::string(1, '\0') + "n\xCB\x87n,a@example.com\n", "To: {{Email}}\n\n"));
  EXPECT_EQ(findings,
            std::vector<std::string>{"d.csv:2: field \"Name\" holds a NUL byte, which a record cannot hold"});
  EXPECT_EQ(input_.records[0].values[0], "A?n?n");

  // Two people, one named in parentheses, are two addresses. An empty To is found.
  findings = Texts(Check("Name,Email\nFay,\nGus,\"Gus <g@example.com>, (Boss) boss@example.com\"\n",
                         "To: {{Email}}\nCc: {{Name}}@example.com\n\n"));
  EXPECT_EQ(findings, std::vector<std::string>{"d.csv:2: To is empty"});
  EXPECT_TRUE(input_.records[0].hasRecipients);  // the Cc still gets a message
}

TEST_F(PreflightTest, AttachmentsFromTheDataStayInTheTemplatesFolder) {
  std::string csv =
      "Email,File\n"
      "a@example.com,files/a.pdf\n"
      "b@example.com,../secret\n"
      "c@example.com,files/link\n"
      "d@example.com,/etc/hostname\n"
      "e@example.com,files/missing.pdf\n"
      "f@example.com,\n";
  std::string letter = "To: {{Email}}\nAttach: {{File}}\nAttach: files/a.pdf\nAttach: nowhere.txt\n\n";
  std::string folder = fs::canonical(root_ / "letters").string();
  std::string outside = " comes from the record's data and lies outside the template's folder " + folder;
  std::vector<std::string> findings = Texts(Check(csv, letter));
  std::vector<std::string> expected = {
      "t.txt:4: attachment " + folder + "/nowhere.txt does not exist",  // once, not per record
      "d.csv:3: attachment " + (root_ / "secret").string() + outside +
          " (--allow-any-attachment sends it anyway)",
      "d.csv:4: attachment " + folder + "/files/link" + outside + " (--allow-any-attachment sends it anyway)",
      "d.csv:5: attachment /etc/hostname" + outside + " (--allow-any-attachment sends it anyway)",
      "d.csv:6: attachment " + folder + "/files/missing.pdf does not exist",
  };
  EXPECT_EQ(findings, expected);
  EXPECT_EQ(
      input_.records[0].attachments,
      (std::vector<std::string>{folder + "/files/a.pdf", folder + "/files/a.pdf", folder + "/nowhere.txt"}));
  EXPECT_EQ(input_.records[5].attachments.size(), 2u);  // an empty field attaches nothing

  findings = Texts(Check(csv, letter, true));
  EXPECT_EQ(findings.size(), 2u);  // only the missing files are left
}

TEST(JournalTest, LastEventDecidesAndACutLineIsIgnored) {
  std::string path = (fs::temp_directory_path() / ("journal-" + std::to_string(getpid()))).string();
  fs::remove(path);
  {
    JournalWriter writer;
    ASSERT_TRUE(writer.Open(path, "first run"));
    ASSERT_TRUE(writer.Start(1, RecordKey({"Ann", "a@x"}), 2));
    ASSERT_TRUE(writer.Outcome(1, RecordState::sent));
    ASSERT_TRUE(writer.Start(2, 7, 3));
    ASSERT_TRUE(writer.Outcome(2, RecordState::failed, "refused\nby the client"));
    ASSERT_TRUE(writer.Start(3, 8, 5));
  }
  std::ofstream(path, std::ios::app) << "sent 3";  // killed while writing: no line end
  {
    JournalWriter writer;
    ASSERT_TRUE(writer.Open(path, "second run"));
    ASSERT_TRUE(writer.Start(2, 9, 3));
  }
  std::map<int, JournalRecord> records;
  std::string error;
  ASSERT_TRUE(ReadJournal(path, &records, &error)) << error;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].state, RecordState::sent);
  EXPECT_EQ(records[1].key, RecordKey({"Ann", "a@x"}));
  EXPECT_NE(RecordKey({"Ann", "a@x"}), RecordKey({"Anna@x"}));
  EXPECT_EQ(records[2].state, RecordState::started);
  EXPECT_EQ(records[2].key, 9u);
  EXPECT_EQ(records[3].state, RecordState::started);  // the cut "sent 3" never counted
  EXPECT_EQ(records[3].line, 5);

  std::ofstream(path, std::ios::app) << "sent three\n";
  EXPECT_FALSE(ReadJournal(path, &records, &error));
  EXPECT_NE(error.find(":11: not a journal line"), std::string::npos) << error;
  fs::remove(path);

  JournalWriter full;
  EXPECT_FALSE(full.Open("/dev/full", "no room"));
  EXPECT_NE(full.error().find("No space left on device"), std::string::npos) << full.error();
}

}  // namespace
