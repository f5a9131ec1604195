// The mail transport: the message files of the pickup folder (headers, encodings, no header
// injection), bad messages that leave nothing behind, and SMTP through a real server when the
// test script provides one (HELIQ_TEST_SMTP, HELIQ_TEST_SMTP_MAILDIR).
#include "platform/mail.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const std::string_view digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto value = digits.find(c);
    if (value == std::string_view::npos) continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// The header block of a message, unfolded, lines joined by "\n" (line ends as received).
std::string Headers(const std::string& message) {
  auto end = message.find("\r\n\r\n");
  if (end == std::string::npos) end = message.find("\n\n");
  std::string headers = message.substr(0, end);
  std::string out;
  for (size_t i = 0; i < headers.size(); ++i) {
    if (headers[i] == '\r') continue;
    if (headers[i] == '\n' && i + 1 < headers.size() && headers[i + 1] == ' ') continue;
    out += headers[i];
  }
  return "\n" + out + "\n";
}

// The value of header `name` in unfolded headers ("" when absent).
std::string Header(const std::string& headers, const std::string& name) {
  const auto start = headers.find("\n" + name + ": ");
  if (start == std::string::npos) return "";
  const auto value = start + name.size() + 3;
  return headers.substr(value, headers.find('\n', value) - value);
}

// Decodes the RFC 2047 "B" words of a header value.
std::string DecodeWords(const std::string& value) {
  std::string out;
  size_t at = 0;
  while (true) {
    const auto open = value.find("=?UTF-8?B?", at);
    if (open == std::string::npos) break;
    const auto close = value.find("?=", open + 10);
    out += DecodeBase64(value.substr(open + 10, close - open - 10));
    at = close + 2;
  }
  return out;
}

int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t size = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

MailMessage Message() {
  MailMessage message;
  message.from = "Heliq Desk <desk@heliq.example>";
  message.to = {"agent@heliq.example"};
  message.subject = "Overdue requests";
  message.body = "Request 1001\nRequest 1002\n";
  return message;
}

class MailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("heliq-mail-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    RegisterConfigurationComponent();
    UseMailSettings("transport = \"pickup\"\npickup_dir = \"out/mail\"\n");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void UseMailSettings(const std::string& mail_section) {
    SetSettingsText("install_dir = \"" + dir_.string() + "\"\n[log]\nfile = \"\"\n[mail]\n" +
                    mail_section);
  }
  fs::path PickupDir() const { return dir_ / "out" / "mail"; }
  std::vector<fs::path> PickupFiles() const {
    std::vector<fs::path> files;
    if (!fs::exists(PickupDir())) return files;
    for (const auto& entry : fs::directory_iterator(PickupDir())) files.push_back(entry.path());
    return files;
  }
  // Sends and returns the one file it wrote.
  std::string SendToPickup(const MailMessage& message) {
    SendMail(message);
    const auto files = PickupFiles();
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) return "";
    EXPECT_EQ(files[0].extension(), ".eml");
    return FileText(files[0]);
  }
  template <typename F>
  void ExpectError(int32_t number, F&& call, const std::string& expected_text = "") {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number) << e.description();
      EXPECT_NE(e.description().find(expected_text), std::string::npos) << e.description();
    }
  }

  fs::path dir_;
  ScopedFixedTime clock_{DateTime{2009, 1, 1, 7, 5, 9}};
};

TEST_F(MailTest, PickupFileIsACompleteCrLfMessage) {
  MailMessage message = Message();
  message.to = {"first@heliq.example; Second Agent <second@heliq.example>;", ""};
  message.cc = {"boss@heliq.example"};
  message.body = "Line one\nLine two\r\n.\rLast";
  const std::string text = SendToPickup(message);
  const std::string headers = Headers(text);

  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
    if (text[i] == '\r') {
      ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  EXPECT_EQ(Header(headers, "Date").substr(0, 26), "Thu, 01 Jan 2009 07:05:09 ");
  EXPECT_EQ(Header(headers, "From"), "\"Heliq Desk\" <desk@heliq.example>");
  EXPECT_EQ(Header(headers, "To"), "first@heliq.example, \"Second Agent\" <second@heliq.example>");
  EXPECT_EQ(Header(headers, "Cc"), "boss@heliq.example");
  EXPECT_EQ(Header(headers, "Subject"), "Overdue requests");
  EXPECT_NE(Header(headers, "Message-ID").find("@heliq.example>"), std::string::npos);
  EXPECT_EQ(Header(headers, "MIME-Version"), "1.0");
  EXPECT_EQ(Header(headers, "Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(Header(headers, "Content-Transfer-Encoding"), "7bit");
  EXPECT_EQ(text.substr(text.find("\r\n\r\n") + 4), "Line one\r\nLine two\r\n.\r\nLast\r\n");
}

TEST_F(MailTest, TextThatCouldForgeHeadersIsFoldedOrRefused) {
  MailMessage message = Message();
  message.subject = "Größe\r\nBcc: spy@evil.example\nX-Injected: 1";
  message.body = "Grüße aus dem Support\n" + std::string(1200, 'x') + "=\n";
  const std::string text = SendToPickup(message);
  const std::string headers = Headers(text);
  EXPECT_EQ(headers.find("\nBcc:"), std::string::npos);
  EXPECT_EQ(headers.find("\nX-Injected:"), std::string::npos);
  // The subject is one header of encoded words whose text has blanks for the line breaks.
  EXPECT_EQ(DecodeWords(Header(headers, "Subject")), "Größe Bcc: spy@evil.example X-Injected: 1");
  // A line beyond 998 octets forces quoted-printable. Every line of the file, encoded headers
  // included, stays within 76 characters.
  EXPECT_EQ(Header(headers, "Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_NE(text.find("Gr=C3=BC=C3=9Fe aus dem Support\r\n"), std::string::npos);
  EXPECT_NE(text.find("=3D\r\n"), std::string::npos);
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    EXPECT_LE(end - at, 76u) << text.substr(at, end - at);
  }

  // Addresses are refused, not repaired: the sender and recipients decide where mail goes.
  ScopedMailRecorder recorder;
  for (const auto& bad : {std::string("agent@heliq.example\r\nBcc: spy@evil.example"),
                          std::string("no-at-sign"), std::string("Name <agent@heliq.example")}) {
    MailMessage refused = Message();
    refused.to = {bad};
    ExpectError(err::kMailNotSent, [&] { SendMail(refused); });
  }
  MailMessage no_sender = Message();
  no_sender.from = "";
  ExpectError(
      err::kMailNotSent, [&] { SendMail(no_sender); }, "no sender");
  MailMessage no_recipient = Message();
  no_recipient.to = {" ; ", ""};
  ExpectError(
      err::kMailNotSent, [&] { SendMail(no_recipient); }, "no recipient");
  EXPECT_EQ(PickupFiles().size(), 1u);  // only the first message
  ASSERT_EQ(recorder.records().size(), 5u);
  for (const MailRecord& record : recorder.records()) EXPECT_FALSE(record.error.empty());
}

TEST_F(MailTest, EightBitBodyAndAttachments) {
  MailMessage message = Message();
  message.body = "Grüße\n";
  message.attachments = {
      {"reports/Überblick.xls", "application/vnd.ms-excel", std::string("\x00\x01\xff report", 10)},
      {"plain.txt", "text/plain\r\nX-Evil: 1", "abc"}};
  const std::string text = SendToPickup(message);
  const std::string headers = Headers(text);
  EXPECT_EQ(Header(headers, "Content-Type").rfind("multipart/mixed; boundary=", 0), 0u);
  EXPECT_NE(text.find("Content-Transfer-Encoding: 8bit\r\n\r\nGrüße\r\n"), std::string::npos);
  EXPECT_NE(text.find("filename*=UTF-8''%C3%9Cberblick.xls"), std::string::npos);
  EXPECT_NE(text.find("Content-Type: application/octet-stream\r\n"
                      "Content-Disposition: attachment; filename=\"plain.txt\""),
            std::string::npos);
  EXPECT_EQ(text.find("X-Evil"), std::string::npos);
  const auto data = text.find("\r\n\r\n", text.find("%C3%9Cberblick.xls")) + 4;
  EXPECT_EQ(DecodeBase64(text.substr(data, text.find("\r\n", data) - data)),
            std::string("\x00\x01\xff report", 10));
}

TEST_F(MailTest, PickupFailuresLeaveNoFile) {
  fs::create_directories(dir_ / "out");
  std::ofstream(dir_ / "out" / "mail") << "a file where the folder should be";
  ExpectError(
      err::kPathFileAccess, [&] { SendMail(Message()); }, "pickup folder");
  fs::remove(dir_ / "out" / "mail");

  UseMailSettings("transport = \"carrier-pigeon\"\npickup_dir = \"out/mail\"\n");
  ExpectError(
      err::kMailNotSent, [&] { SendMail(Message()); }, "carrier-pigeon");
  EXPECT_TRUE(PickupFiles().empty());
}

TEST_F(MailTest, ConcurrentSendersEachGetTheirOwnFileAndRecords) {
  constexpr int kThreads = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  std::vector<size_t> recorded(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ScopedMailRecorder recorder;
      for (int i = 0; i < kEach; ++i) {
        MailMessage message = Message();
        message.subject = std::to_string(t) + "/" + std::to_string(i);
        SendMail(message);
      }
      recorded[t] = recorder.records().size();
    });
  }
  for (auto& thread : threads) thread.join();
  for (size_t count : recorded) EXPECT_EQ(count, static_cast<size_t>(kEach));
  std::set<std::string> subjects;
  for (const auto& file : PickupFiles()) {
    ASSERT_EQ(file.extension(), ".eml") << file;  // no temporary left behind
    subjects.insert(Header(Headers(FileText(file)), "Subject"));
  }
  EXPECT_EQ(subjects.size(), static_cast<size_t>(kThreads * kEach));
}

TEST_F(MailTest, SmtpFailureNamesTheServerNotThePassword) {
  const std::string port = std::to_string(ClosedPort());
  UseMailSettings("transport = \"smtp\"\nsmtp_host = \"127.0.0.1\"\nsmtp_port = " + port +
                  "\nsmtp_user = \"desk\"\nsmtp_password = \"pw-Secret-42\"\nsmtp_timeout = 5\n"
                  "smtp_allow_plain_auth = true\n");
  try {
    SendMail(Message());
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kMailNotSent);
    EXPECT_NE(e.description().find("127.0.0.1:" + port), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find("pw-Secret-42"), std::string::npos);
  }
  UseMailSettings("transport = \"smtp\"\nsmtp_host = \"\"\n");
  ExpectError(
      err::kMailNotSent, [&] { SendMail(Message()); }, "smtp_host");
}

// A login is never sent over a plain connection unless a setting allows it: refused before
// connecting (the listener sees nobody), allowed only with smtp_allow_plain_auth.
TEST_F(MailTest, LoginWithoutEncryptionIsRefusedUnlessAllowed) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t size = sizeof(address);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string server =
      "transport = \"smtp\"\nsmtp_host = \"127.0.0.1\"\nsmtp_port = " +
      std::to_string(ntohs(address.sin_port)) +
      "\nsmtp_user = \"desk\"\nsmtp_password = \"pw-Secret-42\"\nsmtp_timeout = 1\n";
  auto connected = [&] {
    pollfd waiting{listener, POLLIN, 0};
    return poll(&waiting, 1, 0) == 1;
  };
  for (const char* setting : {"", "smtp_starttls = false\nsmtp_allow_plain_auth = false\n",
                              "smtp_allow_plain_auth = \"no\"\n"}) {
    UseMailSettings(server + setting);
    ExpectError(
        err::kMailNotSent, [&] { SendMail(Message()); }, "unencrypted");
    EXPECT_FALSE(connected()) << setting;
  }
  // Allowed: the exchange starts (and times out here, as the listener never answers).
  UseMailSettings(server + "smtp_allow_plain_auth = true\n");
  EXPECT_THROW(SendMail(Message()), ComError);
  EXPECT_TRUE(connected());
  close(listener);
}

// Messages the test SMTP server stored, oldest first.
std::vector<std::string> DeliveredMessages(const fs::path& maildir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(maildir / "new")) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> texts;
  for (const auto& file : files) texts.push_back(FileText(file));
  return texts;
}

TEST_F(MailTest, SmtpDeliversThroughARealServer) {
  const char* server = std::getenv("HELIQ_TEST_SMTP");
  const char* maildir = std::getenv("HELIQ_TEST_SMTP_MAILDIR");
  if (server == nullptr || *server == '\0' || maildir == nullptr) {
    GTEST_SKIP() << "HELIQ_TEST_SMTP is not set";
  }
  const std::string address = server;
  const std::string host = address.substr(0, address.rfind(':'));
  const std::string port = address.substr(address.rfind(':') + 1);
  UseMailSettings("transport = \"smtp\"\nsmtp_host = \"" + host + "\"\nsmtp_port = " + port +
                  "\nsmtp_timeout = 10\n");
  // A unique marker tells this test's messages from those of tests running beside it.
  const std::string marker = "marker-" + std::to_string(getpid()) + "-" + dir_.filename().string();
  MailMessage plain = Message();
  plain.to = {"one@heliq.example;two@heliq.example"};
  plain.subject = "Plain " + marker;
  plain.body = "First line\n.\n.. two dots\nLast line";
  MailMessage accented = Message();
  accented.subject = "Überfällige Anfragen " + marker;
  accented.body = "Grüße\n";
  SendMail(plain);
  SendMail(accented);

  std::vector<std::string> mine;
  for (const std::string& text : DeliveredMessages(maildir)) {
    if (text.find(marker) != std::string::npos ||
        DecodeWords(Headers(text)).find(marker) != std::string::npos) {
      mine.push_back(text);
    }
  }
  ASSERT_EQ(mine.size(), 2u);
  // Sort out which is which by their subject headers.
  if (Header(Headers(mine[0]), "Subject").find("Plain") == std::string::npos) {
    std::swap(mine[0], mine[1]);
  }
  const std::string plain_headers = Headers(mine[0]);
  EXPECT_EQ(Header(plain_headers, "Subject"), plain.subject);
  EXPECT_EQ(Header(plain_headers, "To"), "one@heliq.example, two@heliq.example");
  EXPECT_EQ(Header(plain_headers, "X-MailFrom"), "desk@heliq.example");
  // Lines of dots survive the SMTP transparency rule.
  EXPECT_NE(mine[0].find("First line\n.\n.. two dots\nLast line"), std::string::npos) << mine[0];
  EXPECT_EQ(DecodeWords(Header(Headers(mine[1]), "Subject")), accented.subject);
  EXPECT_NE(mine[1].find("Grüße"), std::string::npos);
}

}  // namespace
}  // namespace heliq
