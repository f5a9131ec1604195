#include "common/files_and_texts.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <system_error>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "platform/connection.h"

namespace heliq {
namespace {

constexpr std::string_view kCreateFileSource = "HeliqUtilities.CreateFile";
constexpr std::string_view kAppendSource = "HeliqUtilities.OpenAndWriteToFile";
constexpr std::string_view kCloseTextSource = "HlqServiceRequestHeliqUtilities.CloseTextConnection";
constexpr std::string_view kUploadPathSource = "HeliqUtilities.GetPhysicalUploadPath";
constexpr std::string_view kDeleteAttachmentsSource =
    "HlqServiceRequestMTS.HeliqUtilities.DeleteAttachments";
constexpr std::string_view kDefaultLanguageSource = "HeliqUtilities.GetDefaultLanguage";
constexpr std::string_view kEMailInfoSource = "HeliqUtilities.getEMailInfo";
constexpr std::string_view kTextStreamSource = "TextStream";

constexpr std::string_view kUploadPathParameter = "DataFileRelativePath";
// The portal's COMMONPARAMETERS/DEFAULTLANGUAGE lives at the top level of our configuration file.
constexpr std::string_view kDefaultLanguageKey = "default_language";

constexpr std::string_view kSelectI18NText =
    "SELECT TEXT FROM I18NTEXT WHERE LOCALEID=? AND LABEL=?";
constexpr std::string_view kSelectEMailInfo =
    "SELECT MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, "
    "MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE FROM EMAIL WHERE MAIL_ID = ?";
// Key order of getEMailInfo's dictionary; the first kTranslatedMailColumns are labels.
constexpr std::array<std::string_view, 10> kMailColumns = {
    "MAIL_DESC",     "MAIL_SUBJECT", "MAIL_BODY", "MAIL_HTML_FILE", "MAIL_HYPERLINK",
    "MAIL_PATH_XSL", "MAIL_TYPE",    "MAIL_FROM", "MAIL_BOA",       "MAIL_SENTTOROLE"};
constexpr size_t kTranslatedMailColumns = 3;

constexpr std::string_view kLineBreak = "\r\n";
constexpr char16_t kReplacementCharacter = 0xFFFD;

std::string SystemReason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

ComError AccessError(int error) {
  return ComError(err::kPathFileAccess, std::string(kTextStreamSource),
                  "Path/File access error (" + SystemReason(error) + ")");
}

// The error of a failed open. A missing file is told apart from a missing folder by looking at the
// folder, since the system reports both as ENOENT.
ComError OpenError(int error, const std::string& path, bool must_exist) {
  if (error == ENOENT || error == ENOTDIR) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ignored;
    if (must_exist && error == ENOENT && std::filesystem::is_directory(folder, ignored)) {
      return ComError::Of(err::kFileNotFound, std::string(kTextStreamSource));
    }
    return ComError::Of(err::kPathNotFound, std::string(kTextStreamSource));
  }
  return AccessError(error);
}

void AppendUtf16Le(std::string& out, char16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

// Whether a failure is being handled on this thread (in a catch handler or while unwinding).
bool FailurePending() { return std::uncaught_exceptions() > 0 || std::current_exception(); }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte (which rules out overlong forms, encoded
    // surrogates and values above U+10FFFF).
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead == 0xE0) {
      length = 3;
      low = 0xA0;
    } else if (lead == 0xED) {
      length = 3;
      high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
      length = 3;
    } else if (lead == 0xF0) {
      length = 4;
      low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      length = 4;
    } else if (lead == 0xF4) {
      length = 4;
      high = 0x8F;
    } else {
      out += kReplacementCharacter;
      ++i;
      continue;
    }
    char32_t code = lead & (0xFF >> (length + 1));
    size_t next = i + 1;
    bool complete = true;
    for (size_t k = 1; k < length; ++k, ++next) {
      if (next >= n) {
        complete = false;
        break;
      }
      const auto byte = static_cast<unsigned char>(text[next]);
      if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) {
        complete = false;
        break;
      }
      code = (code << 6) | (byte & 0x3F);
    }
    // An ill-formed sequence is replaced as a whole up to the byte that broke it, which is then
    // read afresh.
    i = next;
    if (!complete) {
      out += kReplacementCharacter;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::unique_ptr<TextStream> TextStream::Create(const std::string& path, Encoding encoding) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw OpenError(errno, path, false);
  std::unique_ptr<TextStream> stream(new TextStream(fd, path, encoding));
  if (encoding == Encoding::kUtf16Le) stream->WriteBytes("\xFF\xFE");
  return stream;
}

std::unique_ptr<TextStream> TextStream::OpenForAppend(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) throw OpenError(errno, path, true);
  std::unique_ptr<TextStream> stream(new TextStream(fd, path, Encoding::kUtf8));
  // The byte-order mark is read through a descriptor of its own: the file may be writable only.
  const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (reader >= 0) {
    unsigned char mark[2] = {0, 0};
    const ssize_t got = ::read(reader, mark, sizeof mark);
    ::close(reader);
    if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) stream->encoding_ = Encoding::kUtf16Le;
  }
  return stream;
}

TextStream::~TextStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TextStream::WriteBytes(std::string_view bytes) {
  if (fd_ < 0) {
    throw ComError(err::kPathFileAccess, std::string(kTextStreamSource),
                   "Path/File access error (the stream is closed)");
  }
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw AccessError(errno);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void TextStream::Write(std::string_view text) {
  if (encoding_ == Encoding::kUtf8) {
    WriteBytes(text);
    return;
  }
  const std::u16string units = Utf8ToUtf16(text);
  std::string bytes;
  if constexpr (std::endian::native == std::endian::little) {
    // The in-memory units already are little-endian bytes: one copy instead of one per byte.
    bytes.assign(reinterpret_cast<const char*>(units.data()), units.size() * 2);
  } else {
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) AppendUtf16Le(bytes, unit);
  }
  WriteBytes(bytes);
}

void TextStream::WriteLine(std::string_view text) {
  Write(text);
  Write(kLineBreak);
}

void TextStream::WriteBlankLines(int count) {
  for (int i = 0; i < count; ++i) Write(kLineBreak);
}

void TextStream::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw AccessError(errno);
}

void CreateFile(const std::string& path, std::string_view content) {
  RunOperation(kCreateFileSource, [&] {
    // A failure after the open closes the stream through its destructor before it is reported.
    auto stream = TextStream::Create(path, TextStream::Encoding::kUtf16Le);
    stream->WriteLine(content);
    CloseTextConnection(stream);
  });
}

void OpenAndWriteToFile(const std::string& path, std::string_view line) {
  RunOperation(kAppendSource, [&] {
    auto stream = TextStream::OpenForAppend(path);
    stream->WriteBlankLines(1);
    stream->WriteLine(line);
    CloseTextConnection(stream);
  });
}

void CloseTextConnection(std::unique_ptr<TextStream>& stream) {
  // Taking the stream out first empties the reference whatever happens below.
  std::unique_ptr<TextStream> taken = std::move(stream);
  if (!taken) return;
  if (FailurePending()) {
    // On a failure path: the pending failure is the one the caller must see (and a throw while
    // unwinding would end the process), so a failure to close is dropped.
    try {
      taken->Close();
    } catch (...) {
    }
    return;
  }
  RunOperation(kCloseTextSource, [&] { taken->Close(); });
}

std::string TrimPathSeparator(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  if (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

std::string GetPhysicalUploadPath() {
  return RunOperation(kUploadPathSource, [&] {
    const std::string relative = TrimPathSeparator(GetParamValue(kUploadPathParameter));
    std::string install = GetInstallDir();
    for (char& c : install) {
      if (c == '\\') c = '/';
    }
    return install + "/" + relative + "/";
  });
}

void DeleteAttachments(const std::string& folder) {
  RunOperation(kDeleteAttachmentsSource, [&] {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) return;
    // A caller that lost its sub-folder (an empty request folder name, say) must not take the
    // whole file system with it.
    const std::filesystem::path normal = std::filesystem::path(folder).lexically_normal();
    if (normal.relative_path().empty() || normal == ".") {
      throw ComError(err::kInvalidProcedureCall, std::string(kDeleteAttachmentsSource),
                     "refusing to delete the folder " + folder);
    }
    std::filesystem::remove_all(folder, error);
    if (error) {
      throw ComError(err::kPathFileAccess, std::string(kDeleteAttachmentsSource),
                     "Path/File access error (" + error.message() + ")");
    }
  });
}

std::string GetI18NText(std::string_view label, int32_t locale_id) {
  if (label.empty()) return "";
  auto connection = GetHeliqConnection();
  auto recordset =
      Recordset::Open(*connection, kSelectI18NText, {Variant(locale_id), Variant(label)});
  std::string text =
      recordset->eof() ? std::string(label) : recordset->Field("TEXT").ToTextOrEmpty();
  CloseRecordset(recordset);
  CloseConnection(connection);
  return text;
}

Variant GetDefaultLanguage() {
  return RunOperation(kDefaultLanguageSource, [&] {
    auto configuration = ComponentAs<Configuration>(
        ComponentRegistry::Global().Create(kConfigurationClassId), kConfigurationClassId);
    return Variant(configuration->GetValue("", kDefaultLanguageKey));
  });
}

DictionaryPtr getEMailInfo(int32_t mail_id, int32_t locale_id) {
  return RunOperation(kEMailInfoSource, [&]() -> DictionaryPtr {
    auto connection = GetHeliqConnection();
    auto recordset = Recordset::Open(*connection, kSelectEMailInfo, {Variant(mail_id)});
    if (recordset->eof()) {
      CloseRecordset(recordset);
      CloseConnection(connection);
      return nullptr;
    }
    // Keys are the column names as written here: PostgreSQL hands its names back in lower case.
    std::array<Variant, kMailColumns.size()> values;
    for (size_t i = 0; i < kMailColumns.size(); ++i) values[i] = recordset->Field(kMailColumns[i]);
    CloseRecordset(recordset);
    CloseConnection(connection);
    auto info = Dictionary::Create();
    for (size_t i = 0; i < kMailColumns.size(); ++i) {
      if (i < kTranslatedMailColumns) {
        info->Set(kMailColumns[i], Variant(GetI18NText(values[i].ToTextOrEmpty(), locale_id)));
      } else {
        info->Set(kMailColumns[i], values[i]);
      }
    }
    return info;
  });
}

}  // namespace heliq
