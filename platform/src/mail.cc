#include "platform/mail.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string_view>

#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Heliq.Mail";
constexpr std::string_view kCrLf = "\r\n";
// RFC 5322 allows 998 octets a line; longer body lines are sent quoted-printable.
constexpr size_t kMaxLineOctets = 998;
// Bytes of text per RFC 2047 word: 39 bytes give 52 base64 characters, 64 with the "=?UTF-8?B?"
// frame, so even the first line ("Subject: " + one word) stays within 76 characters.
constexpr size_t kEncodedWordBytes = 39;
constexpr std::string_view kDefaultPickupDir = "var/mail";
constexpr long kDefaultTimeoutSeconds = 30;

thread_local ScopedMailRecorder* current_recorder = nullptr;

constexpr std::string_view kNotSent = "mail not sent: ";

ComError NotSent(const std::string& why) {
  return ComError(err::kMailNotSent, std::string(kSource), std::string(kNotSent) + why);
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

std::string Trim(std::string_view text) { return std::string(TrimSpace(text)); }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// `text` as RFC 2047 "B" words, cut at character boundaries and folded onto continuation lines.
std::string EncodedWords(std::string_view text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = std::min(text.size(), start + kEncodedWordBytes);
    // Never split a UTF-8 sequence: back up to the start of the character at `end`.
    while (end < text.size() && end > start + 1 &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64Encode(text.substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

// A display name as a header phrase: encoded words when it is not ASCII, else a quoted string.
std::string Phrase(std::string_view name) {
  if (!IsAscii(name)) return EncodedWords(name);
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

struct Address {
  std::string display;  // may be empty
  std::string mailbox;  // local@domain
};

// Checks the bare address: ASCII, one "@" with text on both sides, nothing that ends or splits an
// address or a header.
bool IsMailbox(std::string_view mailbox) {
  const auto at = mailbox.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == mailbox.size()) return false;
  if (!IsAscii(mailbox) || HasControl(mailbox)) return false;
  return mailbox.find_first_of(" <>()[],;:\"\\") == std::string_view::npos;
}

Address ParseAddress(std::string_view piece) {
  if (HasControl(piece)) {
    throw NotSent("the address \"" + Trim(piece.substr(0, piece.find_first_of("\r\n"))) +
                  "...\" contains a line break or control character");
  }
  Address address;
  const std::string text = Trim(piece);
  const auto open = text.find('<');
  if (open == std::string::npos) {
    address.mailbox = text;
  } else {
    if (text.back() != '>') throw NotSent("the address \"" + text + "\" is not well formed");
    address.mailbox = Trim(std::string_view(text).substr(open + 1, text.size() - open - 2));
    address.display = Trim(std::string_view(text).substr(0, open));
    if (address.display.size() >= 2 && address.display.front() == '"' &&
        address.display.back() == '"') {
      address.display = address.display.substr(1, address.display.size() - 2);
    }
  }
  if (!IsMailbox(address.mailbox)) throw NotSent("\"" + text + "\" is not a mail address");
  return address;
}

// Every address of the entries; an entry may list several, separated by ";" or "," outside a
// quoted name or angle brackets. Empty pieces are skipped.
std::vector<Address> ParseAddresses(const std::vector<std::string>& entries) {
  std::vector<Address> addresses;
  for (const std::string& entry : entries) {
    bool quoted = false;
    bool angle = false;
    size_t start = 0;
    for (size_t i = 0; i <= entry.size(); ++i) {
      const char c = i < entry.size() ? entry[i] : ';';
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '<') angle = true;
      if (!quoted && c == '>') angle = false;
      const bool separator = (c == ';' || c == ',') && !quoted && !angle;
      if (separator || i == entry.size()) {
        std::string_view piece = std::string_view(entry).substr(start, i - start);
        if (!Trim(piece).empty() || HasControl(piece)) addresses.push_back(ParseAddress(piece));
        start = i + 1;
      }
    }
  }
  return addresses;
}

std::string FormatAddress(const Address& address) {
  if (address.display.empty()) return address.mailbox;
  return Phrase(address.display) + " <" + address.mailbox + ">";
}

std::string AddressHeader(std::string_view name, const std::vector<Address>& addresses) {
  std::string out = std::string(name) + ": ";
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (i > 0) out += ",\r\n ";
    out += FormatAddress(addresses[i]);
  }
  return out + std::string(kCrLf);
}

// The subject with every run of line breaks and control characters folded into one blank.
std::string SubjectHeader(std::string_view subject) {
  std::string flat;
  bool in_break = false;
  for (char c : subject) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      if (!in_break) flat += ' ';
      in_break = true;
    } else {
      flat += c;
      in_break = false;
    }
  }
  const bool encode = !IsAscii(flat) || flat.size() > 900 || flat.find("=?") != std::string::npos;
  return "Subject: " + (encode ? EncodedWords(flat) : flat) + std::string(kCrLf);
}

// RFC 5322 date of the clock's local time, with the machine's current offset from UTC.
std::string DateHeader() {
  static constexpr std::array<const char*, 7> kDays = {"Thu", "Fri", "Sat", "Sun",
                                                       "Mon", "Tue", "Wed"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const DateTime now = Now();
  int64_t days = now.ToEpochSeconds() / 86400;
  if (now.ToEpochSeconds() < 0 && now.ToEpochSeconds() % 86400 != 0) --days;
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  const long offset_minutes = local.tm_gmtoff / 60;
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\r\n",
                kDays[((days % 7) + 7) % 7], now.day, kMonths[(now.month + 11) % 12], now.year,
                now.hour, now.minute, now.second, offset_minutes < 0 ? '-' : '+',
                std::labs(offset_minutes) / 60, std::labs(offset_minutes) % 60);
  return text.data();
}

// A name no other message of any process gets: time, process, a counter and random bits.
std::string UniqueName() {
  static std::atomic<uint64_t> counter{0};
  static thread_local std::mt19937_64 random{std::random_device{}()};
  std::array<char, 96> text{};
  std::snprintf(text.data(), text.size(), "%lld.%d.%llu.%016llx",
                static_cast<long long>(std::time(nullptr)), static_cast<int>(getpid()),
                static_cast<unsigned long long>(++counter),
                static_cast<unsigned long long>(random()));
  return text.data();
}

// Line ends made CR LF (bare LF and bare CR accepted), ending with one.
std::string CrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += kCrLf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += kCrLf;
    } else {
      out += text[i];
    }
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, kCrLf) != 0) out += kCrLf;
  return out;
}

bool NeedsQuotedPrintable(std::string_view crlf_text) {
  size_t line = 0;
  for (char c : crlf_text) {
    if (c == '\0') return true;
    if (c == '\n') {
      line = 0;
    } else if (++line > kMaxLineOctets) {
      return true;
    }
  }
  return false;
}

// Quoted-printable (RFC 2045) of CR LF text: hard line breaks kept, soft breaks before 76.
std::string QuotedPrintable(std::string_view crlf_text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t column = 0;
  auto put = [&](std::string_view piece) {
    if (column + piece.size() > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += piece;
    column += piece.size();
  };
  for (size_t i = 0; i < crlf_text.size(); ++i) {
    const auto c = static_cast<unsigned char>(crlf_text[i]);
    if (c == '\r' && i + 1 < crlf_text.size() && crlf_text[i + 1] == '\n') {
      out += kCrLf;
      column = 0;
      ++i;
      continue;
    }
    const bool at_line_end = i + 1 >= crlf_text.size() || crlf_text[i + 1] == '\r';
    const bool literal =
        (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !at_line_end);
    if (literal) {
      put(std::string(1, static_cast<char>(c)));
    } else {
      const char escaped[3] = {'=', kHex[c >> 4], kHex[c & 15]};
      put(std::string_view(escaped, 3));
    }
  }
  return out;
}

// The text part's headers and body.
std::string TextPart(std::string_view body) {
  const std::string text = CrLfLines(body);
  std::string out = "Content-Type: text/plain; charset=utf-8\r\n";
  if (NeedsQuotedPrintable(text)) {
    return out + "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + QuotedPrintable(text);
  }
  return out + "Content-Transfer-Encoding: " + (IsAscii(text) ? "7bit" : "8bit") + "\r\n\r\n" +
         text;
}

std::string AttachmentPart(const MailAttachment& attachment) {
  std::string content_type = Trim(attachment.content_type);
  if (content_type.empty() ||
      content_type.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789!#$&^_.+-/") != std::string::npos) {
    content_type = "application/octet-stream";
  }
  std::string name = attachment.file_name;
  if (const auto slash = name.find_last_of("/\\"); slash != std::string::npos) {
    name = name.substr(slash + 1);
  }
  if (name.empty()) name = "attachment";
  std::string parameter;
  if (IsAscii(name)) {
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '\\') c = '_';
    }
    parameter = "filename=\"" + name + "\"";
  } else {
    // RFC 2231: charset'language'percent-encoded octets.
    static constexpr char kHex[] = "0123456789ABCDEF";
    parameter = "filename*=UTF-8''";
    for (unsigned char c : name) {
      if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
        parameter += static_cast<char>(c);
      } else {
        parameter += {'%', kHex[c >> 4], kHex[c & 15]};
      }
    }
  }
  std::string out = "Content-Type: " + content_type + "\r\nContent-Disposition: attachment; " +
                    parameter + "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  const std::string encoded = Base64Encode(attachment.content);
  for (size_t i = 0; i < encoded.size(); i += 76) out += encoded.substr(i, 76) + "\r\n";
  return out;
}

struct Composed {
  std::string id;  // unique name; also the local part of the Message-ID
  std::string sender;
  std::vector<std::string> recipients;  // To, then Cc
  std::string text;                     // the whole RFC 5322 message, CR LF line ends
};

Composed Compose(const MailMessage& message) {
  if (Trim(message.from).empty()) throw NotSent("the message has no sender");
  const std::vector<Address> from = ParseAddresses({message.from});
  if (from.size() != 1) throw NotSent("the message must have exactly one sender");
  const std::vector<Address> to = ParseAddresses(message.to);
  const std::vector<Address> cc = ParseAddresses(message.cc);
  if (to.empty() && cc.empty()) throw NotSent("the message has no recipient");

  if (message.message_id.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_") !=
      std::string::npos) {
    throw NotSent("the message id \"" + message.message_id + "\" has characters other than " +
                  "letters, digits, '.', '-' and '_'");
  }
  Composed composed;
  composed.id = message.message_id.empty() ? UniqueName() : message.message_id;
  composed.sender = from[0].mailbox;
  for (const auto* list : {&to, &cc}) {
    for (const Address& address : *list) composed.recipients.push_back(address.mailbox);
  }
  const std::string domain = from[0].mailbox.substr(from[0].mailbox.rfind('@') + 1);
  std::string& text = composed.text;
  text = DateHeader();
  text += AddressHeader("From", from);
  if (!to.empty()) text += AddressHeader("To", to);
  if (!cc.empty()) text += AddressHeader("Cc", cc);
  text += SubjectHeader(message.subject);
  text += "Message-ID: <" + composed.id + "@" + domain + ">\r\n";
  text += "MIME-Version: 1.0\r\n";
  if (message.attachments.empty()) {
    text += TextPart(message.body);
    return composed;
  }
  const std::string boundary = "=_heliq_" + composed.id;
  text += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  text += "This is a message in MIME format.\r\n";
  text += "--" + boundary + "\r\n" + TextPart(message.body);
  for (const MailAttachment& attachment : message.attachments) {
    text += "--" + boundary + "\r\n" + AttachmentPart(attachment);
  }
  text += "--" + boundary + "--\r\n";
  return composed;
}

std::filesystem::path PickupFolder() {
  std::filesystem::path dir = SettingValue("mail", "pickup_dir");
  if (dir.empty()) dir = kDefaultPickupDir;
  if (dir.is_relative()) {
    auto configuration = ComponentAs<Configuration>(
        ComponentRegistry::Global().Create(kConfigurationClassId), kConfigurationClassId);
    dir = std::filesystem::path(configuration->GetInstallDir()) / dir;
  }
  return dir.lexically_normal();
}

// Writes the message under a hidden temporary name and renames it to "<id>.eml", so a reader
// that picks up *.eml files never sees half a message.
void WriteToPickupFolder(const Composed& composed) {
  const std::filesystem::path dir = PickupFolder();
  auto fail = [&](const std::string& why) {
    return ComError(err::kPathFileAccess, std::string(kSource),
                    "cannot write mail to the pickup folder " + dir.string() + ": " + why);
  };
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) throw fail(error.message());
  const std::filesystem::path temporary = dir / ("." + composed.id + ".tmp");
  const std::filesystem::path final_name = dir / (composed.id + ".eml");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(composed.text.data(), static_cast<std::streamsize>(composed.text.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temporary, error);
      throw fail("cannot write " + temporary.filename().string());
    }
  }
  std::filesystem::rename(temporary, final_name, error);
  if (error) {
    const std::string why = error.message();
    std::filesystem::remove(temporary, error);
    throw fail(why);
  }
}

struct CurlHandle {
  CURL* handle = curl_easy_init();
  curl_slist* recipients = nullptr;
  ~CurlHandle() {
    curl_slist_free_all(recipients);
    if (handle != nullptr) curl_easy_cleanup(handle);
  }
};

struct Upload {
  std::string_view data;
  size_t position = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const size_t n = std::min(size * count, upload->data.size() - upload->position);
  std::copy_n(upload->data.data() + upload->position, n, buffer);
  upload->position += n;
  return n;
}

bool SettingIsTrue(std::string_view section, std::string_view key) {
  const std::string value = Lower(Trim(SettingValue(section, key)));
  return value == "1" || value == "true" || value == "yes";
}

void SendThroughSmtp(const Composed& composed) {
  static std::once_flag curl_ready;
  std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  const std::string host = Trim(SettingValue("mail", "smtp_host"));
  if (host.empty()) throw NotSent("no SMTP server is configured ([mail] smtp_host)");
  std::string port = Trim(SettingValue("mail", "smtp_port"));
  if (port.empty()) port = "25";
  const std::string server = host + ":" + port;
  if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 ||
      std::stol(port) == 0 || std::stol(port) > 65535) {
    throw NotSent("[mail] smtp_port \"" + port + "\" is not a port number");
  }
  long timeout = kDefaultTimeoutSeconds;
  if (const std::string text = Trim(SettingValue("mail", "smtp_timeout")); !text.empty()) {
    if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(text) == 0) {
      throw NotSent("[mail] smtp_timeout \"" + text + "\" is not a positive number of seconds");
    }
    timeout = std::stol(text);
  }

  const std::string user = SettingValue("mail", "smtp_user");
  // Refused before connecting: a password sent in the clear may be read by anyone on the way.
  if (!Trim(user).empty() && !SettingIsTrue("mail", "smtp_starttls") &&
      !SettingIsTrue("mail", "smtp_allow_plain_auth")) {
    throw NotSent("the login for the SMTP server " + server +
                  " would cross an unencrypted connection: set [mail] smtp_starttls = true (or "
                  "smtp_allow_plain_auth = true to allow it)");
  }

  CurlHandle curl;
  if (curl.handle == nullptr) throw NotSent("cannot start an SMTP session with " + server);
  for (const std::string& recipient : composed.recipients) {
    curl_slist* grown = curl_slist_append(curl.recipients, ("<" + recipient + ">").c_str());
    if (grown == nullptr) throw NotSent("out of memory for the recipients");
    curl.recipients = grown;
  }
  const std::string url = "smtp://" + server;
  const std::string sender = "<" + composed.sender + ">";
  const std::string password = SettingValue("mail", "smtp_password");
  Upload upload{composed.text};
  std::array<char, CURL_ERROR_SIZE> error_text{};
  CURL* h = curl.handle;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, sender.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, curl.recipients);
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(h, CURLOPT_READDATA, &upload);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(composed.text.size()));
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text.data());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM: SendMail runs on many threads
  curl_easy_setopt(h, CURLOPT_TIMEOUT, timeout);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::min(timeout, 10L));
  const bool starttls = SettingIsTrue("mail", "smtp_starttls");
  if (starttls) curl_easy_setopt(h, CURLOPT_USE_SSL, CURLUSESSL_ALL);
  if (!Trim(user).empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
  }
  const CURLcode result = curl_easy_perform(h);
  if (result != CURLE_OK) {
    long reply = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply);
    std::string why = error_text[0] != '\0' ? error_text.data() : curl_easy_strerror(result);
    if (reply != 0) why += " (server reply " + std::to_string(reply) + ")";
    // The description may be logged; the server's own text could echo what we sent.
    throw NotSent(RedactSecrets("the SMTP server " + server + " did not take it: " + why));
  }
}

void Deliver(const MailMessage& message) {
  const Composed composed = Compose(message);
  const std::string transport = Lower(Trim(SettingValue("mail", "transport")));
  if (transport.empty() || transport == "pickup") {
    WriteToPickupFolder(composed);
  } else if (transport == "smtp") {
    SendThroughSmtp(composed);
  } else {
    throw NotSent("unknown mail transport \"" + transport + "\" ([mail] transport)");
  }
}

}  // namespace

std::string Base64Encode(std::string_view data) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (static_cast<unsigned char>(data[i]) << 16) |
                       (static_cast<unsigned char>(data[i + 1]) << 8) |
                       static_cast<unsigned char>(data[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += kDigits[(n >> 6) & 63];
    out += kDigits[n & 63];
  }
  if (i < data.size()) {
    uint32_t n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 2] == '=') return std::nullopt;
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) {
      const int value = k >= 4 - pad ? 0 : digit(text[i + k]);
      if (value < 0) return std::nullopt;
      n = (n << 6) | static_cast<uint32_t>(value);
    }
    out += static_cast<char>((n >> 16) & 0xff);
    if (pad < 2) out += static_cast<char>((n >> 8) & 0xff);
    if (pad < 1) out += static_cast<char>(n & 0xff);
  }
  return out;
}

std::optional<std::string> MailAddressProblem(std::string_view address) {
  try {
    if (ParseAddresses({std::string(address)}).empty()) return "an empty address";
    return std::nullopt;
  } catch (const ComError& e) {
    return e.description().substr(e.description().starts_with(kNotSent) ? kNotSent.size() : 0);
  }
}

void SendMail(const MailMessage& message) {
  ScopedMailRecorder* recorder = current_recorder;
  try {
    Deliver(message);
  } catch (const ComError& e) {
    if (recorder != nullptr) recorder->records_.push_back({message, e.description()});
    throw;
  } catch (const std::exception& e) {
    const ComError error = NotSent(e.what());
    if (recorder != nullptr) recorder->records_.push_back({message, error.description()});
    throw error;
  }
  if (recorder != nullptr) recorder->records_.push_back({message, ""});
}

void CheckMail(const MailMessage& message) {
  try {
    Compose(message);
  } catch (const ComError& e) {
    if (current_recorder != nullptr)
      current_recorder->records_.push_back({message, e.description()});
    throw;
  }
}

ScopedMailRecorder::ScopedMailRecorder() : previous_(current_recorder) { current_recorder = this; }

ScopedMailRecorder::~ScopedMailRecorder() { current_recorder = previous_; }

}  // namespace heliq
