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
#include <memory>
#include <mutex>

#include "apps/mailstore/MacFileFormats.h"
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

// The message re-encodes a header whenever its list changes, so the mailboxes are gathered
// in a list of their own and appended in one step.
void AddMailboxes(GMimeMessage *message, GMimeAddressType type, const std::vector<MailAddress> &mailboxes) {
  GRef<InternetAddressList> gathered(internet_address_list_new());
  for (const MailAddress &mailbox : mailboxes) {
    std::string address = ValidUTF8(HeaderValue(mailbox.address));
    if (address.empty()) continue;
    std::string name = ValidUTF8(HeaderValue(mailbox.name));
    GRef<InternetAddress> entry(internet_address_mailbox_new(name.c_str(), address.c_str()));
    internet_address_set_charset(entry.get(), "utf-8");
    internet_address_list_add(gathered.get(), entry.get());
  }
  if (internet_address_list_length(gathered.get()) > 0)
    internet_address_list_append(g_mime_message_get_addresses(message, type), gathered.get());
}

// The local time zone, looked up once: GLib would read it from the system for every message.
GTimeZone *LocalTimeZone() {
  static GTimeZone *zone = g_time_zone_new_local();
  return zone;
}

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
  GRef<GMimeMessage> mime(g_mime_message_new(FALSE));
  AddMailboxes(mime.get(), GMIME_ADDRESS_TYPE_FROM, {from});
  AddMailboxes(mime.get(), GMIME_ADDRESS_TYPE_TO, message.to);
  AddMailboxes(mime.get(), GMIME_ADDRESS_TYPE_CC, message.cc);
  g_mime_message_set_subject(mime.get(), ValidUTF8(HeaderValue(message.subject)).c_str(), "utf-8");
  GDateTime *now = g_date_time_new_now(LocalTimeZone());
  g_mime_message_set_date(mime.get(), now);
  g_date_time_unref(now);
  g_mime_message_set_message_id(mime.get(), messageId.c_str());
  if (!message.compression.empty())
    g_mime_object_set_header(GMIME_OBJECT(mime.get()), "X-Attachment-Compression",
                             HeaderValue(message.compression).c_str(), nullptr);
  GRef<GMimeObject> content(NewContent(message, attachments));
  g_mime_message_set_mime_part(mime.get(), content.get());

  GByteArray *bytes = g_byte_array_new();
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));  // owns bytes
  ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(mime.get()), nullptr, stream.get());
  if (written < 0) return paramErr;
  out->assign(reinterpret_cast<const char *>(bytes->data), bytes->len);
  return noErr;
}
