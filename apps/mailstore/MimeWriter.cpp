#include "apps/mailstore/MimeWriter.h"

#include <MacErrors.h>
#include <gmime/gmime.h>

#include <Endian.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <memory>
#include <mutex>

#include "apps/mailstore/MacFileFormats.h"
#include "apps/mailstore/MailHeaders.h"
#include "apps/mailstore/MailText.h"

namespace {

struct GObjectRelease {
  void operator()(void *object) const { g_object_unref(object); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectRelease>;

struct ExtensionType {
  const char *extension;
  const char *type;
};

constexpr ExtensionType kTypes[] = {
    {"txt", "text/plain"},
    {"text", "text/plain"},
    {"csv", "text/csv"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"rtf", "application/rtf"},
    {"pdf", "application/pdf"},
    {"zip", "application/zip"},
    {"sit", "application/x-stuffit"},
    {"hqx", "application/mac-binhex40"},
    {"doc", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"mp3", "audio/mpeg"},
    {"mov", "video/quicktime"},
    {"vcf", "text/vcard"},
    {"ics", "text/calendar"},
    {"xml", "application/xml"},
    {"json", "application/json"},
};

// The body's bytes go in unchanged as UTF-8 (GMime's own set_text would pick a narrower
// charset and convert); the transfer encoding is the lightest that keeps the file 7-bit.
GMimeObject *NewBodyPart(const std::string &body, bool html) {
  std::string text = ValidUTF8(UnixLineEnds(body));
  GMimeTextPart *part = g_mime_text_part_new_with_subtype(html ? "html" : "plain");
  bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  g_mime_text_part_set_charset(part, ascii ? "us-ascii" : "utf-8");
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
  GRef<GMimeDataWrapper> content(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  GMimePart *mime = GMIME_PART(part);
  g_mime_part_set_content(mime, content.get());
  g_mime_part_set_content_encoding(
      mime, g_mime_part_get_best_content_encoding(mime, GMIME_ENCODING_CONSTRAINT_7BIT));
  return GMIME_OBJECT(part);
}

// A leaf part holding bytes. With `transfer` GMIME_CONTENT_ENCODING_UUENCODE the bytes are
// uuencoded already and go out as they are; otherwise GMime encodes them.
GMimeObject *NewDataPart(const std::string &contentType, const std::string &bytes,
                         const std::string &fileName, GMimeContentEncoding transfer) {
  size_t slash = contentType.find('/');
  std::string subtype = slash == std::string::npos ? "octet-stream" : contentType.substr(slash + 1);
  std::string type = slash == std::string::npos ? "application" : contentType.substr(0, slash);
  GMimePart *part = g_mime_part_new_with_type(type.c_str(), subtype.c_str());
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GMimeContentEncoding stored =
      transfer == GMIME_CONTENT_ENCODING_UUENCODE ? transfer : GMIME_CONTENT_ENCODING_DEFAULT;
  GRef<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), stored));
  g_mime_part_set_content(part, content.get());
  g_mime_part_set_filename(part, HeaderValue(fileName).c_str());
  g_mime_part_set_content_encoding(part, transfer);
  return GMIME_OBJECT(part);
}

MacFileInfo FileInfo(const MimeAttachment &attachment) {
  return MacFileInfo{attachment.fileName, attachment.macType, attachment.macCreator};
}

// RFC 1740: the header file and the data fork side by side in one multipart/appledouble.
GMimeObject *NewAppleDoublePart(const MimeAttachment &attachment) {
  GMimeMultipart *pair = g_mime_multipart_new_with_subtype("appledouble");
  GRef<GMimeObject> header(NewDataPart("application/applefile", AppleDoubleHeader(FileInfo(attachment)),
                                       attachment.fileName, GMIME_CONTENT_ENCODING_BASE64));
  GRef<GMimeObject> data(NewDataPart(attachment.contentType, attachment.data, attachment.fileName,
                                     GMIME_CONTENT_ENCODING_BASE64));
  g_mime_multipart_add(pair, header.get());
  g_mime_multipart_add(pair, data.get());
  return GMIME_OBJECT(pair);
}

GMimeObject *NewAttachmentPart(const MimeAttachment &attachment, AttachmentEncoding encoding) {
  switch (encoding) {
    case AttachmentEncoding::binHex:
      return NewDataPart("application/mac-binhex40", BinHexEncode(FileInfo(attachment), attachment.data),
                         attachment.fileName, GMIME_CONTENT_ENCODING_7BIT);
    case AttachmentEncoding::uuencode:
      return NewDataPart(attachment.contentType, UUEncode(attachment.fileName, attachment.data),
                         attachment.fileName, GMIME_CONTENT_ENCODING_UUENCODE);
    case AttachmentEncoding::appleSingle:
      return NewDataPart("application/applefile", AppleSingleEncode(FileInfo(attachment), attachment.data),
                         attachment.fileName, GMIME_CONTENT_ENCODING_BASE64);
    case AttachmentEncoding::appleDouble:
      return NewAppleDoublePart(attachment);
    case AttachmentEncoding::base64:
      break;
  }
  return NewDataPart(attachment.contentType, attachment.data, attachment.fileName,
                     GMIME_CONTENT_ENCODING_BASE64);
}

GMimeObject *NewContent(const MailMessage &message, const std::vector<MimeAttachment> &attachments) {
  GMimeObject *body = NewBodyPart(message.body, message.html);
  if (attachments.empty()) return body;
  GMimeMultipart *mixed = g_mime_multipart_new_with_subtype("mixed");
  g_mime_multipart_add(mixed, body);
  g_object_unref(body);
  for (const MimeAttachment &attachment : attachments) {
    GRef<GMimeObject> part(NewAttachmentPart(attachment, message.encoding));
    g_mime_multipart_add(mixed, part.get());
  }
  return GMIME_OBJECT(mixed);
}

// How a text part travels: 7bit when it is short-lined ASCII; otherwise quoted-printable, or
// base64 when 17% or more of its bytes are past ASCII or one is NUL (GMime's rule for a part
// that must stay 7-bit, which it applies to the body of a message with attachments).
enum class TextTransfer { sevenBit, quotedPrintable, base64 };

TextTransfer TextTransferFor(std::string_view text, bool *ascii) {
  size_t high = 0, line = 0, longest = 0;
  bool nul = false;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    high += u >= 0x80;
    nul = nul || u == 0;
    line = u == '\n' ? 0 : line + 1;
    longest = std::max(longest, line);
  }
  *ascii = high == 0;
  if (nul || (high > 0 && high * 100 >= text.size() * 17)) return TextTransfer::base64;
  if (high > 0 || longest > 998) return TextTransfer::quotedPrintable;
  return TextTransfer::sevenBit;
}

// RFC 2045: lines of at most 76 characters with soft breaks, blanks kept literal except at
// the end of a line.
void AppendQuotedPrintable(std::string_view text, std::string *out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t column = 0;
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      *out += '\n';
      column = 0;
      continue;
    }
    bool lineEnd = i + 1 == text.size() || text[i + 1] == '\n';
    bool literal = (c > ' ' && c < 0x7F && c != '=') || ((c == ' ' || c == '\t') && !lineEnd);
    size_t width = literal ? 1 : 3;
    if (column + width > 75) {
      *out += "=\n";
      column = 0;
    }
    if (literal) {
      *out += char(c);
    } else {
      *out += '=';
      *out += kHex[c >> 4];
      *out += kHex[c & 15];
    }
    column += width;
  }
}

void AppendTextPart(std::string_view body, bool html, std::string *out) {
  std::string text = ValidUTF8(UnixLineEnds(body));
  bool ascii = true;
  TextTransfer transfer = TextTransferFor(text, &ascii);
  *out += html ? "Content-Type: text/html; charset=" : "Content-Type: text/plain; charset=";
  *out += ascii ? "us-ascii\n" : "utf-8\n";
  if (transfer == TextTransfer::quotedPrintable) *out += "Content-Transfer-Encoding: quoted-printable\n";
  if (transfer == TextTransfer::base64) *out += "Content-Transfer-Encoding: base64\n";
  *out += '\n';
  if (transfer == TextTransfer::sevenBit) *out += text;
  if (transfer == TextTransfer::quotedPrintable) AppendQuotedPrintable(text, out);
  if (transfer == TextTransfer::base64) *out += Base64Lines(text);
}

// The File Manager's type and creator of an open file (see Files.h); zeros when it has none.
void ReadFinderInfo(int fd, MimeAttachment *attachment) {
  uint8_t bytes[8];
  if (fgetxattr(fd, "user.quillcast.FinderInfo", bytes, sizeof bytes) != ssize_t(sizeof bytes)) return;
  attachment->macType = GetBigEndian32(bytes);
  attachment->macCreator = GetBigEndian32(bytes + 4);
}

void DefaultFinderInfo(MimeAttachment *attachment) {
  if (attachment->macType == 0)
    attachment->macType = attachment->contentType.rfind("text/", 0) == 0 ? FourCC("TEXT") : FourCC("????");
  if (attachment->macCreator == 0) attachment->macCreator = FourCC("????");
}

}  // namespace

void InitMimeWriter() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string GuessContentType(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  std::string extension(fileName.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const ExtensionType &entry : kTypes)
    if (extension == entry.extension) return entry.type;
  return "application/octet-stream";
}

OSErr ReadMailAttachment(const std::string &path, MimeAttachment *attachment) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? fnfErr : ioErr;
  struct stat info;
  OSErr status = noErr;
  if (fstat(fd, &info) != 0)
    status = ioErr;
  else if (!S_ISREG(info.st_mode))
    status = notAFileErr;
  std::string data;
  if (status == noErr) data.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (status == noErr && done < data.size()) {
    ssize_t got = read(fd, data.data() + done, data.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0)
      status = ioErr;
    else
      done += static_cast<size_t>(got);
  }
  attachment->macType = attachment->macCreator = 0;
  if (status == noErr) ReadFinderInfo(fd, attachment);
  close(fd);
  if (status != noErr) return status;
  size_t slash = path.find_last_of('/');
  attachment->fileName = ValidUTF8(slash == std::string::npos ? path : path.substr(slash + 1));
  attachment->contentType = GuessContentType(attachment->fileName);
  attachment->data = std::move(data);
  DefaultFinderInfo(attachment);
  return noErr;
}

OSErr BuildMimeMessage(const MailMessage &message, const MailAddress &from,
                       const std::vector<MimeAttachment> &attachments, const std::string &messageId,
                       std::string *out) {
  *out = AddressHeaderField("From", {from});
  *out += AddressHeaderField("To", message.to);
  *out += AddressHeaderField("Cc", message.cc);
  *out += TextHeaderField("Subject", message.subject);
  *out += DateHeaderField(std::time(nullptr));
  *out += "Message-Id: <" + messageId + ">\n";
  if (!message.compression.empty()) *out += TextHeaderField("X-Attachment-Compression", message.compression);
  *out += "MIME-Version: 1.0\n";
  if (attachments.empty()) {
    AppendTextPart(message.body, message.html, out);
    return noErr;
  }
  // A multipart with its own header fields, written after those of the message.
  GRef<GMimeObject> content(NewContent(message, attachments));
  GByteArray *bytes = g_byte_array_new();
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));  // owns bytes
  if (g_mime_object_write_to_stream(content.get(), nullptr, stream.get()) < 0) return paramErr;
  out->append(reinterpret_cast<const char *>(bytes->data), bytes->len);
  return noErr;
}
