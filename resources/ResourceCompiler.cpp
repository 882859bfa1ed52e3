// The resource compiler: reads a resource source file (the Rez-like language described in
// README.md beside this file) and writes a resource file in the carbon layer's format.
//
//   resource_compiler SOURCE.r OUTPUT.rsrc
//
// Texts in the source are UTF-8 and are stored in Mac OS Roman. Any error names the source
// line and leaves no output file behind.
#include <ResourceFormat.h>

#include <Endian.h>
#include <TextEncodingConverter.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct CompileError : std::runtime_error {
  int line;
  CompileError(int atLine, const std::string &message) : std::runtime_error(message), line(atLine) {}
};

// ---- Reading the source: tokens and values ----

struct Token {
  enum Kind { kEnd, kWord, kNumber, kText, kType, kPunct } kind;
  std::string text;  // word, text (still UTF-8), type code bytes, or the punctuation
  long number = 0;
  int line;
};

struct Value {
  enum Kind { kNumber, kText, kWord, kGroup } kind;
  long number = 0;
  std::string text;
  std::vector<Value> items;
  int line;
};

class Lexer {
 public:
  explicit Lexer(std::string source) : source_(std::move(source)) {}

  Token Next() {
    SkipSpaceAndComments();
    if (at_ >= source_.size()) return Token{Token::kEnd, "", 0, line_};
    char c = source_[at_];
    if (c == '"') return Quoted('"', Token::kText);
    if (c == '\'') return Quoted('\'', Token::kType);
    if (std::isdigit(uint8_t(c)) ||
        (c == '-' && at_ + 1 < source_.size() && std::isdigit(uint8_t(source_[at_ + 1]))))
      return Number();
    if (std::isalpha(uint8_t(c)) || c == '_') return Word();
    if (std::string("{}(),;").find(c) == std::string::npos)
      throw CompileError(line_, std::string("unexpected ") + c);
    at_++;
    return Token{Token::kPunct, std::string(1, c), 0, line_};
  }

 private:
  void SkipSpaceAndComments() {
    while (at_ < source_.size()) {
      if (source_[at_] == '\n') line_++;
      if (std::isspace(uint8_t(source_[at_]))) {
        at_++;
      } else if (source_.compare(at_, 2, "//") == 0) {
        while (at_ < source_.size() && source_[at_] != '\n') at_++;
      } else if (source_.compare(at_, 2, "/*") == 0) {
        size_t end = source_.find("*/", at_ + 2);
        if (end == std::string::npos) throw CompileError(line_, "unterminated comment");
        for (size_t i = at_; i < end; i++) line_ += source_[i] == '\n';
        at_ = end + 2;
      } else {
        break;
      }
    }
  }

  Token Quoted(char quote, Token::Kind kind) {
    int startLine = line_;
    std::string text;
    for (at_++;; at_++) {
      if (at_ >= source_.size() || source_[at_] == '\n') throw CompileError(startLine, "unterminated quote");
      char c = source_[at_];
      if (c == quote) break;
      text += c == '\\' ? Escape() : c;
    }
    at_++;
    return Token{kind, text, 0, startLine};
  }

  char Escape() {
    char c = ++at_ < source_.size() ? source_[at_] : 0;
    switch (c) {
      case 'r':
        return '\r';
      case 'n':
        return '\n';
      case 't':
        return '\t';
      case '\\':
        return '\\';
      case '"':
        return '"';
      case '\'':
        return '\'';
      case 'x': {
        std::string hex = source_.substr(at_ + 1, 2);
        if (hex.size() != 2 || !std::isxdigit(uint8_t(hex[0])) || !std::isxdigit(uint8_t(hex[1])))
          throw CompileError(line_, "\\x needs two hex digits");
        at_ += 2;
        return char(std::stoi(hex, nullptr, 16));
      }
      default:
        throw CompileError(line_, std::string("unknown escape \\") + c);
    }
  }

  Token Number() {
    size_t used;
    long value = std::stol(source_.substr(at_, 24), &used, 0);
    at_ += used;
    return Token{Token::kNumber, "", value, line_};
  }

  Token Word() {
    size_t start = at_;
    while (at_ < source_.size() && (std::isalnum(uint8_t(source_[at_])) || source_[at_] == '_')) at_++;
    return Token{Token::kWord, source_.substr(start, at_ - start), 0, line_};
  }

  std::string source_;
  size_t at_ = 0;
  int line_ = 1;
};

struct ResourceSource {
  ResType type;
  int16_t id;
  std::vector<Value> body;
  int line;
};

class Parser {
 public:
  explicit Parser(std::string source) : lexer_(std::move(source)) { Advance(); }

  std::vector<ResourceSource> Resources() {
    std::vector<ResourceSource> all;
    while (token_.kind != Token::kEnd) all.push_back(Resource());
    return all;
  }

 private:
  void Advance() { token_ = lexer_.Next(); }

  void Expect(const std::string &punct) {
    if (token_.kind != Token::kPunct || token_.text != punct)
      throw CompileError(token_.line, "expected " + punct);
    Advance();
  }

  bool Accept(const std::string &punct) {
    if (token_.kind != Token::kPunct || token_.text != punct) return false;
    Advance();
    return true;
  }

  ResourceSource Resource() {
    int line = token_.line;
    if (token_.kind != Token::kWord || token_.text != "resource")
      throw CompileError(line, "expected resource");
    Advance();
    if (token_.kind != Token::kType || token_.text.size() != 4)
      throw CompileError(line, "expected a type 'XXXX'");
    ResType type = FourCC({token_.text[0], token_.text[1], token_.text[2], token_.text[3], 0});
    Advance();
    Expect("(");
    if (token_.kind != Token::kNumber || token_.number < -32768 || token_.number > 32767)
      throw CompileError(line, "expected a 16-bit resource ID");
    auto id = int16_t(token_.number);
    Advance();
    if (Accept(",")) Advance();  // a resource name: kept in the source only
    Expect(")");
    Value body = Group();
    Expect(";");
    return ResourceSource{type, id, body.items, line};
  }

  Value Group() {
    Value group{Value::kGroup, 0, "", {}, token_.line};
    Expect("{");
    while (!Accept("}")) {
      group.items.push_back(Item());
      if (!Accept(",")) {
        Expect("}");
        break;
      }
    }
    return group;
  }

  Value Item() {
    Value value{Value::kNumber, token_.number, token_.text, {}, token_.line};
    if (token_.kind == Token::kPunct && token_.text == "{") return Group();
    if (token_.kind == Token::kWord)
      value.kind = Value::kWord;
    else if (token_.kind == Token::kText)
      value.kind = Value::kText;
    else if (token_.kind != Token::kNumber)
      throw CompileError(token_.line, "expected a value");
    Advance();
    while (value.kind == Value::kText && token_.kind == Token::kText) {  // "adjacent" "texts" join
      value.text += token_.text;
      Advance();
    }
    return value;
  }

  Lexer lexer_;
  Token token_;
};

// ---- Writing resource data ----

using Bytes = std::vector<uint8_t>;

const Value &At(const std::vector<Value> &values, size_t index, Value::Kind kind, int line) {
  static const char *kNames[] = {"a number", "a text", "a word", "a {group}"};
  if (index >= values.size()) throw CompileError(line, std::string("missing ") + kNames[kind]);
  if (values[index].kind != kind)
    throw CompileError(values[index].line, std::string("expected ") + kNames[kind]);
  return values[index];
}

void Put16(Bytes *out, const Value &value) {
  if (value.number < -32768 || value.number > 65535)
    throw CompileError(value.line, "number out of 16-bit range");
  out->resize(out->size() + 2);
  PutBigEndian16(out->data() + out->size() - 2, uint16_t(value.number));
}

void Put32(Bytes *out, const Value &value) {
  out->resize(out->size() + 4);
  PutBigEndian32(out->data() + out->size() - 4, uint32_t(value.number));
}

std::string MacRoman(const Value &value) {
  static TECObjectRef converter = nullptr;
  if (converter == nullptr) {
    TECCreateConverter(&converter, CreateTextEncoding(kTextEncodingUnicodeDefault, 0, kUnicodeUTF8Format),
                       kTextEncodingMacRoman);
  }
  std::string out(value.text.size(), 0);
  ByteCount used = 0;
  ByteCount made = 0;
  OSStatus status =
      TECConvertText(converter, reinterpret_cast<ConstTextPtr>(value.text.data()), value.text.size(), &used,
                     reinterpret_cast<TextPtr>(out.data()), out.size(), &made);
  if (status != noErr) throw CompileError(value.line, "text has a character that Mac OS Roman lacks");
  out.resize(made);
  return out;
}

// A Pascal string: the length byte and the text; with `field`, zero-filled to 256 bytes.
void PutPascal(Bytes *out, const Value &value, bool field = false) {
  std::string text = MacRoman(value);
  if (text.size() > 255) throw CompileError(value.line, "text longer than 255 characters");
  out->push_back(uint8_t(text.size()));
  out->insert(out->end(), text.begin(), text.end());
  if (field) out->resize(out->size() + 255 - text.size(), 0);
}

void PutRect(Bytes *out, const Value &value) {
  if (value.kind != Value::kGroup || value.items.size() != 4)
    throw CompileError(value.line, "expected {top, left, bottom, right}");
  for (const Value &side : value.items) Put16(out, At({side}, 0, Value::kNumber, value.line));
}

void PutCount(Bytes *out, const Value &list) {
  if (list.items.size() > 32767) throw CompileError(list.line, "too many items");
  Put16(out, Value{Value::kNumber, long(list.items.size()), "", {}, list.line});
}

Bytes StringList(const std::vector<Value> &body, int line) {
  Bytes out;
  const Value &list = At(body, 0, Value::kGroup, line);
  PutCount(&out, list);
  for (size_t i = 0; i < list.items.size(); i++) PutPascal(&out, At(list.items, i, Value::kText, line));
  return out;
}

Bytes ErrorMessages(const std::vector<Value> &body, int line) {
  Bytes out;
  const Value &list = At(body, 0, Value::kGroup, line);
  PutCount(&out, list);
  for (const Value &entry : list.items) {
    if (entry.kind != Value::kGroup)
      throw CompileError(entry.line, "expected {code, \"message 1\", \"message 2\"}");
    Put16(&out, At(entry.items, 0, Value::kNumber, entry.line));
    PutPascal(&out, At(entry.items, 1, Value::kText, entry.line), true);
    PutPascal(&out, At(entry.items, 2, Value::kText, entry.line), true);
  }
  return out;
}

Bytes AlertTemplate(const std::vector<Value> &body, int line) {
  Bytes out;
  PutRect(&out, At(body, 0, Value::kGroup, line));
  Put16(&out, At(body, 1, Value::kNumber, line));
  Put16(&out, At(body, 2, Value::kNumber, line));
  return out;
}

uint8_t Flag(const Value &value, const char *yes, const char *no) {
  if (value.kind == Value::kWord && value.text == yes) return 1;
  if (value.kind == Value::kWord && value.text == no) return 0;
  throw CompileError(value.line, std::string("expected ") + yes + " or " + no);
}

Bytes DialogTemplate(const std::vector<Value> &body, int line) {
  Bytes out;
  PutRect(&out, At(body, 0, Value::kGroup, line));
  Put16(&out, At(body, 1, Value::kNumber, line));
  if (body.size() < 7)
    throw CompileError(line, "expected bounds, kind, visible, goAway, refCon, items, title");
  out.push_back(Flag(body[2], "visible", "invisible"));
  out.push_back(Flag(body[3], "goAway", "noGoAway"));
  Put32(&out, At(body, 4, Value::kNumber, line));
  Put16(&out, At(body, 5, Value::kNumber, line));
  PutPascal(&out, At(body, 6, Value::kText, line));
  return out;
}

long ItemKind(const Value &value) {
  static const std::map<std::string, long> kKinds = {{"userItem", 0},    {"button", 4},     {"checkBox", 5},
                                                     {"radioButton", 6}, {"staticText", 8}, {"editText", 16},
                                                     {"icon", 32},       {"picture", 64}};
  auto found = kKinds.find(value.text);
  if (value.kind != Value::kWord || found == kKinds.end())
    throw CompileError(value.line, "unknown item kind");
  return found->second;
}

Bytes ItemList(const std::vector<Value> &body, int line) {
  Bytes out;
  const Value &list = At(body, 0, Value::kGroup, line);
  PutCount(&out, list);
  for (const Value &item : list.items) {
    if (item.kind != Value::kGroup) throw CompileError(item.line, "expected {kind, {bounds}, \"text\"}");
    long kind = ItemKind(At(item.items, 0, Value::kWord, item.line));
    if (item.items.size() > 3 && Flag(item.items[3], "disabled", "enabled")) kind |= 128;
    Put16(&out, Value{Value::kNumber, kind, "", {}, item.line});
    PutRect(&out, At(item.items, 1, Value::kGroup, item.line));
    PutPascal(&out, At(item.items, 2, Value::kText, item.line));
  }
  return out;
}

Bytes Compile(const ResourceSource &resource) {
  switch (resource.type) {
    case FourCC("STR#"):
      return StringList(resource.body, resource.line);
    case FourCC("STR "): {
      Bytes out;
      PutPascal(&out, At(resource.body, 0, Value::kText, resource.line));
      return out;
    }
    case FourCC("Err2"):
      return ErrorMessages(resource.body, resource.line);
    case FourCC("ALRT"):
      return AlertTemplate(resource.body, resource.line);
    case FourCC("DLOG"):
      return DialogTemplate(resource.body, resource.line);
    case FourCC("DITL"):
      return ItemList(resource.body, resource.line);
    default:
      throw CompileError(resource.line, "no template for this resource type");
  }
}

Bytes ResourceFile(const std::vector<ResourceSource> &resources) {
  namespace rsrc = carbon::rsrc;
  std::map<std::pair<ResType, int16_t>, int> seen;
  Bytes file(rsrc::kHeaderSize + resources.size() * rsrc::kEntrySize, 0);
  PutBigEndian32(&file[rsrc::kMagicAt], rsrc::kMagic);
  PutBigEndian16(&file[rsrc::kVersionAt], rsrc::kVersion);
  PutBigEndian32(&file[rsrc::kCountAt], uint32_t(resources.size()));
  for (size_t i = 0; i < resources.size(); i++) {
    const ResourceSource &resource = resources[i];
    if (!seen.emplace(std::make_pair(resource.type, resource.id), resource.line).second)
      throw CompileError(resource.line, "a resource of this type and ID is already defined");
    Bytes data = Compile(resource);
    uint8_t *entry = &file[rsrc::kHeaderSize + i * rsrc::kEntrySize];
    PutBigEndian32(entry + rsrc::kTypeAt, resource.type);
    PutBigEndian16(entry + rsrc::kIDAt, uint16_t(resource.id));
    PutBigEndian32(entry + rsrc::kOffsetAt, uint32_t(file.size()));
    PutBigEndian32(entry + rsrc::kLengthAt, uint32_t(data.size()));
    file.insert(file.end(), data.begin(), data.end());
  }
  return file;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE.r OUTPUT.rsrc\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes file;
  try {
    file = ResourceFile(Parser(source).Resources());
  } catch (const CompileError &error) {
    std::fprintf(stderr, "%s:%d: %s\n", argv[1], error.line, error.what());
    return 1;
  } catch (const std::exception &error) {  // a number too large for stol, and the like
    std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
    return 1;
  }
  std::string temporary = std::string(argv[2]) + ".new";
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
  out.close();
  if (!out || std::rename(temporary.c_str(), argv[2]) != 0) {
    std::fprintf(stderr, "%s: cannot write\n", argv[2]);
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
