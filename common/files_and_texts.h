// Files, attachment folders and localised texts of the shared module.
//
// Text files: CreateFile writes UTF-16 little-endian with a byte-order mark (the form the peers
// that read these files expect); OpenAndWriteToFile appends to an existing file in the encoding its
// byte-order mark names, UTF-8 when it has none. Text in memory is UTF-8; it is converted on the
// way out (characters beyond the Basic Multilingual Plane become surrogate pairs, invalid UTF-8
// becomes U+FFFD). Lines end with CR LF in every encoding, so files written here read the same
// whatever wrote them.
//
// Paths are POSIX paths: stored settings may separate their parts with "\" or "/", and every path
// produced here uses "/".
//
// Failures follow the operation frame: each operation that can fail reports under its own source
// name and re-raises (see common/operation_frame.h). File errors: 53 (file not found), 76 (path
// not found, the folder is missing), 75 (any other access failure, with the system's reason).
//
// Thread safety: every function may run concurrently; a TextStream belongs to one thread.
#ifndef HELIQ_COMMON_FILES_AND_TEXTS_H_
#define HELIQ_COMMON_FILES_AND_TEXTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/variant.h"

namespace heliq {

// A text file open for writing. The file is closed when the object is destroyed (errors are then
// ignored: call Close to see them).
class TextStream {
 public:
  enum class Encoding { kUtf8, kUtf16Le };

  // Creates `path`, replacing an existing file. A UTF-16 file starts with its byte-order mark.
  // Errors: 76 when the folder does not exist, 75 otherwise.
  static std::unique_ptr<TextStream> Create(const std::string& path, Encoding encoding);
  // Opens an existing file for appending; it is never created. The encoding is UTF-16 little-endian
  // when the file starts with that byte-order mark, UTF-8 otherwise. Errors: 53 when the file does
  // not exist, 76 when its folder does not exist, 75 otherwise.
  static std::unique_ptr<TextStream> OpenForAppend(const std::string& path);

  ~TextStream();
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  Encoding encoding() const { return encoding_; }
  bool is_open() const { return fd_ >= 0; }
  // Writes UTF-8 `text` converted to the file's encoding. Error 75 when it cannot be written or
  // the stream is closed.
  void Write(std::string_view text);
  // Writes `text` and a line break (CR LF).
  void WriteLine(std::string_view text);
  // Writes `count` line breaks.
  void WriteBlankLines(int count);
  // Flushes to the file and closes it. Idempotent. Error 75 when the file system refuses.
  void Close();

 private:
  TextStream(int fd, std::string path, Encoding encoding)
      : fd_(fd), path_(std::move(path)), encoding_(encoding) {}
  void WriteBytes(std::string_view bytes);

  int fd_;
  std::string path_;
  Encoding encoding_;
};

// UTF-8 to UTF-16 (code units in host order). Each ill-formed sequence (stray continuation byte,
// truncated or overlong sequence, encoded surrogate, value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Writes `content` and a line break to `path` as UTF-16 little-endian with a byte-order mark,
// replacing an existing file. Failures close the stream and are reported under
// "HeliqUtilities.CreateFile".
void CreateFile(const std::string& path, std::string_view content);

// Appends an empty line and then `line` (ending with a line break) to the EXISTING file `path`,
// in the file's own encoding (see TextStream::OpenForAppend). A missing file is a failure (53),
// reported under "HeliqUtilities.OpenAndWriteToFile".
void OpenAndWriteToFile(const std::string& path, std::string_view line);

// Closes the stream when the reference holds one and empties the reference in every case.
// Called while a failure is being handled, a failure while closing propagates as it is and never
// replaces the pending one; otherwise it is reported under
// "HlqServiceRequestHeliqUtilities.CloseTextConnection".
void CloseTextConnection(std::unique_ptr<TextStream>& stream);

// Every "\" and "/" becomes "/", and ONE trailing "/" is dropped ("data\upload\" -> "data/upload",
// "/" -> "").
std::string TrimPathSeparator(std::string_view path);

// The absolute folder of the attachment store, ending with "/": the installation directory + "/"
// + TrimPathSeparator(parameter "DataFileRelativePath") + "/". The separator after the
// installation directory is written in every case. Failures are reported under
// "HeliqUtilities.GetPhysicalUploadPath".
std::string GetPhysicalUploadPath();

// Deletes `folder` with everything in it when it is a folder; a missing folder is no failure.
// Failures are reported under "HlqServiceRequestMTS.HeliqUtilities.DeleteAttachments".
void DeleteAttachments(const std::string& folder);

// The TEXT of I18NTEXT for `locale_id` and `label` (labels compare without regard to case); the
// label itself when there is no such row, so an untranslated label shows as its code; "" for an
// empty label. Has no frame of its own: a database failure reaches the calling operation as it is.
std::string GetI18NText(std::string_view label, int32_t locale_id);

// The installation's default language: the configuration's top-level key `default_language` (the
// portal's "DEFAULTLANGUAGE" of section "COMMONPARAMETERS"), as text, "" when it is not set. The
// configuration component is created directly, outside the context. Failures are reported under
// "HeliqUtilities.GetDefaultLanguage".
Variant GetDefaultLanguage();

// The mail template `mail_id`: a dictionary with the keys MAIL_DESC, MAIL_SUBJECT, MAIL_BODY,
// MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE
// in this order. The first three are labels and are stored translated (GetI18NText for
// `locale_id`; a null label gives ""); the others as read (null stays null). nullptr when the
// template does not exist. Failures are reported under "HeliqUtilities.getEMailInfo".
DictionaryPtr getEMailInfo(int32_t mail_id, int32_t locale_id);

}  // namespace heliq

#endif  // HELIQ_COMMON_FILES_AND_TEXTS_H_
