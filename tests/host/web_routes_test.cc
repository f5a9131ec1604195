// The routes the web pages need beside the operations: the form's lookups, a centre's engineers
// and counts, a request's back-office call, and attachments uploaded to and read from a request's
// store; each with who may call it (another's request answers 404 and nothing is written), bad
// input and the body limit; on every available database.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/com_error.h"
#include "portal/directory/directory_store.h"
#include "portal/filehandling/file_store.h"
#include "tests/people/settings.h"
#include "tests/support/directory_users.h"
#include "tests/support/http_host.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kToken[] = "web-routes-t0ken-0123456789ab";
constexpr size_t kUploadLimit = 4096;

json Body(const httplib::Result& result) { return json::parse(result->body, nullptr, false); }

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WebRoutesTest : public testing::HttpHostTest {
 protected:
  // On the demo installation, whose directory holds the people already.
  virtual bool OnDemoData() const { return false; }

  void SetUp() override {
    HttpHostTest::SetUp();
    if (IsSkipped()) return;
    testing::UseSettingsWith("[files]\nstore_dir = '" + (install_dir() / "files").string() + "'\n");
    if (OnDemoData()) {
      LoadDemoData();
      DirectoryStore::FromSettings().SetPassword("cust1", "pw-cust1");
      DirectoryStore::FromSettings().SetPassword("dispatch1", "pw-dispatch1");
    }
    for (const auto& [login, roles, bp] :
         {std::tuple<std::string, std::vector<int32_t>, std::string>{"cust1", {}, "1000"},
          {"cust2", {}, ""},
          {"cce1", {32}, ""},
          {"cce2", {32}, ""},
          {"sce1", {36}, ""},
          {"disp1", {31}, ""},
          {"sup1", {35}, ""},
          {"sup2", {39}, ""}}) {
      if (OnDemoData()) break;
      testing::AddDirectoryUser(login, roles, bp);
      DirectoryStore::FromSettings().SetPassword(login, "pw-" + login);
    }
    HttpServerOptions options;
    options.token = kToken;
    options.max_upload_bytes = kUploadLimit;
    StartServer(options);
  }

  std::string SignIn(const std::string& login) {
    auto answer =
        client_->Post("/api/v1/session", json{{"login", login}, {"password", "pw-" + login}}.dump(),
                      "application/json");
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    return answer && answer->status == 200 ? Body(answer)["token"].get<std::string>() : "";
  }
  // A request row of `originator` in `centre` with `status`.
  int32_t FileRequest(const std::string& originator, int32_t centre = 1, int32_t status = 5) {
    auto created = Post(
        "/api/v1/requests",
        json{{"Q_DESC", "Printer jams"}, {"Q_ORIGINATOR", originator}, {"CENTER", centre}}.dump(),
        kToken);
    EXPECT_TRUE(created && created->status == 201) << (created ? created->body : "no answer");
    const int32_t id = created && created->status == 201 ? Body(created)["Q_ID"].get<int32_t>() : 0;
    Exec("update QUESTIONS set Q_STATUS = ? where Q_ID = ?", {Variant(status), Variant(id)});
    return id;
  }
  httplib::Result Put(const std::string& path, const std::string& body, const std::string& token) {
    return client_->Put(path, Headers(token), body, "application/octet-stream");
  }
  static std::string Attachment(int32_t id, const std::string& tail) {
    return "/api/v1/requests/" + std::to_string(id) + "/attachments/" + tail;
  }
  // Every file under the request's folder, relative to it (empty when it has no folder).
  static std::vector<std::string> FilesOf(int32_t id) {
    std::vector<std::string> files;
    std::error_code error;
    const fs::path folder = RequestFolder(id);
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); ++it) {
      if (!it->is_directory()) files.push_back(it->path().lexically_relative(folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
};

class DemoLookupsTest : public WebRoutesTest {
 protected:
  bool OnDemoData() const override { return true; }
};

TEST_P(DemoLookupsTest, LookupsOfferTheDemoCategoriesWithLabelsTheTextsTranslate) {
  const std::string customer = SignIn("cust1");
  auto answer = Get("/api/v1/lookups", customer);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200) << answer->body;
  const json lookups = Body(answer);
  ASSERT_EQ(lookups["productcats"].size(), 4u) << lookups.dump();
  const json& printers = lookups["productcats"][0];
  EXPECT_EQ(printers["id"], 1);
  EXPECT_EQ(printers["label"], "HQLBL4651");
  std::vector<int> categories;
  for (const auto& category : printers["categories"]) categories.push_back(category["id"]);
  // Categories the demo rules dispatch: 1 and 2 to cce1, 4 to sce1.
  EXPECT_EQ(categories, (std::vector<int>{1, 2, 4}));
  // His business partner's installed products only.
  ASSERT_EQ(lookups["products"].size(), 1u) << lookups["products"].dump();
  EXPECT_EQ(lookups["products"][0]["id"], "INST-0001");
  EXPECT_EQ(lookups["priorities"].size(), 4u);
  bool answered = false;
  for (const auto& status : lookups["statuses"]) {
    if (status["id"] == 150) answered = status["label"] == "HQLBL4730";
  }
  EXPECT_TRUE(answered) << lookups["statuses"].dump();

  // The labels come in two languages; a label one lacks falls back to the default language.
  auto english = Get("/api/v1/texts?locale=1033", customer);
  auto german = Get("/api/v1/texts?locale=1031", customer);
  ASSERT_TRUE(english && german);
  EXPECT_EQ(Body(english)["texts"]["HQLBL4730"], "Answered");
  EXPECT_EQ(Body(german)["texts"]["HQLBL4730"], "Beantwortet");
  EXPECT_EQ(Body(german)["texts"]["HQLBL4651"], "Drucker");

  // Staff see every product; nobody signed in sees nothing.
  auto staff = Get("/api/v1/lookups", SignIn("dispatch1"));
  ASSERT_TRUE(staff);
  EXPECT_EQ(Body(staff)["products"].size(), 2u);
  auto anonymous = Get("/api/v1/lookups");
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  auto posted = Post("/api/v1/lookups", "{}", customer);
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 405);
}

TEST_P(WebRoutesTest, ACentresEngineersAndCountsAreForItsOwnDispatchersAndSupervisors) {
  Exec(
      "insert into CCEDISRULE (LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) values "
      "('cce1', 3, 7, 1), ('CCE1', 1, 9, 0)");
  const std::string dispatcher = SignIn("disp1");
  auto engineers = Get("/api/v1/centres/1/engineers", dispatcher);
  ASSERT_TRUE(engineers);
  ASSERT_EQ(engineers->status, 200) << engineers->body;
  const json list = Body(engineers)["engineers"];
  ASSERT_EQ(list.size(), 2u) << list.dump();
  EXPECT_EQ(list[0]["Login"], "cce1");
  EXPECT_EQ(list[0]["FirstName"], "Given");
  EXPECT_EQ(list[0]["LastName"], "Name");
  EXPECT_EQ(list[0]["Language"], "1033");
  // Several rules of one engineer: the largest counters.
  EXPECT_EQ(list[0]["QUEUESIZE"], 3);
  EXPECT_EQ(list[0]["EXPERIENCE"], 9);
  EXPECT_EQ(list[1]["Login"], "cce2");
  EXPECT_TRUE(list[1]["QUEUESIZE"].is_null());

  const int32_t a = FileRequest("cust1", 1, 5);
  FileRequest("cust1", 1, 5);
  FileRequest("cust2", 1, 150);
  FileRequest("cust2", 2, 25);
  FileRequest("cust2", 1, 0);  // not registered: not counted
  ASSERT_GT(a, 0);
  auto counts = Get("/api/v1/requests/counts?centre=1", SignIn("sup1"));
  ASSERT_TRUE(counts);
  ASSERT_EQ(counts->status, 200) << counts->body;
  EXPECT_EQ(Body(counts), (json{{"centre", 1}, {"counts", {{"5", 2}, {"150", 1}}}}));

  // Another centre's supervisor, an engineer, a customer: refused; a bad centre: 400.
  const std::string other = SignIn("sup2");
  for (const auto& [path, token, status] :
       {std::tuple<std::string, std::string, int>{"/api/v1/centres/1/engineers", other, 403},
        {"/api/v1/requests/counts?centre=1", other, 403},
        {"/api/v1/centres/2/engineers", other, 200},
        {"/api/v1/centres/1/engineers", SignIn("cce1"), 403},
        {"/api/v1/requests/counts?centre=1", SignIn("cust1"), 403},
        {"/api/v1/centres/3/engineers", dispatcher, 400},
        {"/api/v1/requests/counts", dispatcher, 400},
        {"/api/v1/requests/counts?centre=1&x=2", dispatcher, 400},
        {"/api/v1/centres/1/engineers", kToken, 200}}) {
    SCOPED_TRACE(path);
    auto answer = Get(path, token);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, status) << answer->body;
  }
}

TEST_P(WebRoutesTest, ASupportCentreRequestShowsItsBackOfficeCall) {
  const int32_t support = FileRequest("cust1", 2, 25);
  const int32_t call_centre = FileRequest("cust1", 1, 25);
  Exec("update QUESTIONS set Q_CALL = 'C-100', Q_CALLTYPE = 'REPAIR' where Q_ID in (?, ?)",
       {Variant(support), Variant(call_centre)});
  Exec(
      "insert into CALLDETAIL (CALLNUMBER, CONTRACT, CONTRACTDESC, WARRANTY, WARRANTYDESC) "
      "values ('C-100', 'K1', 'Full service', 'W1', 'Two years')");
  const std::string customer = SignIn("cust1");
  auto shown = Get("/api/v1/requests/" + std::to_string(support), customer);
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->status, 200) << shown->body;
  const json call = Body(shown)["call"];
  EXPECT_EQ(call["CALLNUMBER"], "C-100");
  EXPECT_EQ(call["Q_CALLTYPE"], "REPAIR");
  EXPECT_EQ(call["CONTRACT"], "K1");
  EXPECT_EQ(call["WARRANTYDESC"], "Two years");
  auto other = Get("/api/v1/requests/" + std::to_string(call_centre), customer);
  ASSERT_TRUE(other);
  EXPECT_TRUE(Body(other)["call"].is_null()) << other->body;
}

TEST_P(WebRoutesTest, TheOriginatorUploadsAndReadsBackWhileOthersFindNothingAndWriteNothing) {
  const int32_t mine = FileRequest("cust1");
  const std::string cust1 = SignIn("cust1");
  const std::string content("%PDF-1.4\0binary\r\n\xff", 19);
  auto stored = Put(Attachment(mine, "invoice%20M%C3%A4rz.pdf"), content, cust1);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->status, 201) << stored->body;
  EXPECT_EQ(
      Body(stored),
      (json{{"path", "incoming/invoice März.pdf"}, {"name", "invoice März.pdf"}, {"bytes", 19}}));
  EXPECT_EQ(ReadAll(RequestFolder(mine) / "incoming" / "invoice März.pdf"), content);
  EXPECT_EQ(FilesOf(mine), std::vector<std::string>{"incoming/invoice März.pdf"});

  auto read = Get(Attachment(mine, "incoming/invoice%20M%C3%A4rz.pdf"), cust1);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->status, 200) << read->body;
  EXPECT_EQ(read->body, content);
  EXPECT_EQ(read->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_EQ(read->get_header_value("X-Content-Type-Options"), "nosniff");
  // Raw, since the client decodes escapes in header values.
  testing::RawClient raw(port_);
  ASSERT_TRUE(raw.Send("GET " + Attachment(mine, "incoming/invoice%20M%C3%A4rz.pdf") +
                       " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + cust1 +
                       "\r\nConnection: close\r\n\r\n"));
  EXPECT_NE(raw.ReadUntilClosed(testing::Millis(5000))
                .find("Content-Disposition: attachment; filename=\"invoice M__rz.pdf\"; "
                      "filename*=UTF-8''invoice%20M%C3%A4rz.pdf\r\n"),
            std::string::npos);
  // The request lists it as before.
  auto listed = Get("/api/v1/requests/" + std::to_string(mine), cust1);
  ASSERT_TRUE(listed);
  EXPECT_EQ(Body(listed)["attachments"][0]["path"], "incoming/invoice März.pdf");

  // Another customer: his upload answers as for an unknown request and writes nothing; he
  // cannot read it either.
  const std::string cust2 = SignIn("cust2");
  auto foreign = Put(Attachment(mine, "evil.txt"), "x", cust2);
  auto unknown = Put(Attachment(99999, "evil.txt"), "x", cust2);
  ASSERT_TRUE(foreign && unknown);
  EXPECT_EQ(foreign->status, 404) << foreign->body;
  EXPECT_EQ(Body(foreign)["error"]["number"], err::kResourceNotFound);
  EXPECT_EQ(unknown->status, 404);
  auto peek = Get(Attachment(mine, "incoming/invoice%20M%C3%A4rz.pdf"), cust2);
  ASSERT_TRUE(peek);
  EXPECT_EQ(peek->status, 404);
  EXPECT_EQ(peek->body.find("PDF"), std::string::npos);
  // A supervisor reads his centre's files but uploads nothing (only to requests he filed).
  const std::string supervisor = SignIn("sup1");
  auto supervised = Get(Attachment(mine, "incoming/invoice%20M%C3%A4rz.pdf"), supervisor);
  ASSERT_TRUE(supervised);
  EXPECT_EQ(supervised->status, 200);
  auto refused = Put(Attachment(mine, "note.txt"), "x", supervisor);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 404);
  // The engineer waiting in the centre's queue may act on it, so he may add a file.
  auto engineer = Put(Attachment(mine, "log.txt"), "trace", SignIn("cce1"));
  ASSERT_TRUE(engineer);
  EXPECT_EQ(engineer->status, 201) << engineer->body;
  EXPECT_EQ(FilesOf(mine),
            (std::vector<std::string>{"incoming/invoice März.pdf", "incoming/log.txt"}));
  EXPECT_FALSE(fs::exists(RequestFolder(99999)));
}

TEST_P(WebRoutesTest, TheNextActionTakesTheUploadedFilesIntoItsFolder) {
  const int32_t mine = FileRequest("cust1", 1, 0);
  const std::string cust1 = SignIn("cust1");
  auto stored = Put(Attachment(mine, "photo.png"), "png-bytes", cust1);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->status, 201) << stored->body;
  auto registered = Post("/api/v1/HlqServiceRequestMTS.Question/RegisterQuestion",
                         json{{"i_dictDetails",
                               {{"Q_ID", mine},
                                {"T_NAME", "cust1"},
                                {"T_COMMENT", "new"},
                                {"USERCOMMENT", ""},
                                {"CENTER", 1}}}}
                             .dump(),
                         cust1);
  ASSERT_TRUE(registered);
  ASSERT_EQ(registered->status, 200) << registered->body;
  const int32_t action =
      Value("select max(T_ID) from TRANSACTIONS where Q_ID = ?", {Variant(mine)}).ToLong();
  const std::string moved = "T" + std::to_string(action) + "/photo.png";
  EXPECT_EQ(FilesOf(mine), (std::vector<std::string>{moved, "transactions.log"}));
  auto read = Get(Attachment(mine, moved), cust1);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->status, 200);
  EXPECT_EQ(read->body, "png-bytes");
  // The path the upload answered is gone once the action took the file: not found, and the host
  // goes on serving.
  auto gone = Get(Attachment(mine, "incoming/photo.png"), cust1);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 404) << gone->body;
  EXPECT_EQ(Body(gone)["error"]["number"], err::kResourceNotFound);
  auto again = Get(Attachment(mine, moved), cust1);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);
}

TEST_P(WebRoutesTest, BadNamesAndOversizeBodiesAreRefusedWithNothingLeftBehind) {
  const int32_t mine = FileRequest("cust1");
  const std::string cust1 = SignIn("cust1");
  for (const std::string& name :
       std::vector<std::string>{"..", "%2E%2E", "a%2Fb.txt", "a%5Cb.txt", "a%0Ab.txt", "%2Ehidden",
                                std::string(201, 'n'), "%00"}) {
    SCOPED_TRACE(name);
    auto answer = Put(Attachment(mine, name), "data", cust1);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400) << answer->body;
    EXPECT_EQ(Body(answer)["error"]["number"], err::kBadRequest);
  }
  EXPECT_EQ(FilesOf(mine), std::vector<std::string>{});
  auto longest = Put(Attachment(mine, std::string(200, 'n')), "data", cust1);
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->status, 201) << longest->body;

  // Over [host] max_upload_bytes: 413 before the body is read; at the limit: stored.
  auto over = Put(Attachment(mine, "big.bin"), std::string(kUploadLimit + 1, 'b'), cust1);
  ASSERT_TRUE(over);
  EXPECT_EQ(over->status, 413);
  EXPECT_EQ(Body(over)["error"]["number"], err::kPayloadTooLarge);
  EXPECT_NE(over->body.find("max_upload_bytes"), std::string::npos) << over->body;
  EXPECT_FALSE(fs::exists(RequestFolder(mine) / "incoming" / "big.bin"));
  client_ = NewClient();  // the host closed the connection after the refusal
  auto at_limit = Put(Attachment(mine, "big.bin"), std::string(kUploadLimit, 'b'), cust1);
  ASSERT_TRUE(at_limit);
  EXPECT_EQ(at_limit->status, 201) << at_limit->body;

  // Reading: only files of the request's folders, never a link or another shape of path.
  fs::create_symlink(install_dir() / "files", RequestFolder(mine) / "incoming" / "link");
  for (const std::string path : {"incoming/link", "incoming", "incoming/..%2F..%2Fsecret",
                                 "../1/incoming/x", "transactions.log", "incoming/missing"}) {
    SCOPED_TRACE(path);
    auto answer = Get(Attachment(mine, path), cust1);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 404) << answer->body;
  }
  auto wrong_method = client_->Delete(Attachment(mine, "big.bin"), Headers(cust1));
  ASSERT_TRUE(wrong_method);
  EXPECT_EQ(wrong_method->status, 405);
  EXPECT_EQ(wrong_method->get_header_value("Allow"), "GET, PUT");
}

TEST_P(WebRoutesTest, ConcurrentUploadsOfOneNameLeaveOneWholeFileAndNoTemporaries) {
  const int32_t mine = FileRequest("cust1");
  const std::string cust1 = SignIn("cust1");
  constexpr int kWriters = 6;
  std::vector<std::thread> writers;
  std::vector<int> statuses(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      auto client = NewClient();
      auto answer = client->Put(Attachment(mine, "same.txt"), Headers(cust1),
                                std::string(kUploadLimit, static_cast<char>('a' + w)),
                                "application/octet-stream");
      statuses[w] = answer ? answer->status : -1;
    });
  }
  for (auto& writer : writers) writer.join();
  for (int status : statuses) EXPECT_EQ(status, 201);
  const std::string content = ReadAll(RequestFolder(mine) / "incoming" / "same.txt");
  ASSERT_EQ(content.size(), kUploadLimit);
  EXPECT_EQ(content, std::string(kUploadLimit, content[0]));
  EXPECT_EQ(FilesOf(mine), std::vector<std::string>{"incoming/same.txt"});
}

INSTANTIATE_DATABASE_TEST_SUITE(WebRoutesTest);
INSTANTIATE_DATABASE_TEST_SUITE(DemoLookupsTest);

}  // namespace
}  // namespace heliq
