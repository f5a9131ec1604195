// The local file store behind "HlqCommonMTS.FileHandling".
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "common/file_handling.h"
#include "common/heliq_utilities.h"
#include "host/host.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "portal/filehandling/file_store.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The store needs no database: an install directory of its own and the fixed clock.
class FileHandlingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeSystem();
    install_dir_ = fs::temp_directory_path() /
                   ("heliq-files-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(install_dir_);
    fs::create_directories(install_dir_);
    testing::UseSettingsWithoutDatabase(install_dir_);
    clock_ = std::make_unique<ScopedFixedTime>(testing::kTestNow);
    files_ = GetComponentAs<FileHandling>(kFileHandlingClassId);
  }
  void TearDown() override {
    files_.reset();
    clock_.reset();
    std::error_code ignored;
    fs::remove_all(install_dir_, ignored);
  }

  // A file outside the store, as a caller would hand it over.
  fs::path LocalFile(const std::string& name, std::string_view bytes) {
    const fs::path path = install_dir_ / "local" / name;
    WriteBytes(path, bytes);
    return path;
  }

  static void ExpectError(int32_t number, const std::function<void()>& body) {
    try {
      body();
      ADD_FAILURE() << "no error raised";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number) << e.description();
    }
  }

  fs::path install_dir_;
  std::unique_ptr<ScopedFixedTime> clock_;
  std::unique_ptr<FileHandling> files_;
};

TEST_F(FileHandlingTest, StoreRootFollowsTheSettingAndReadsBackslashes) {
  EXPECT_EQ(FileStoreRoot(), install_dir_ / "var" / "files");
  EXPECT_EQ(RequestFolder(12), install_dir_ / "var" / "files" / "12");
  SetSettingsText("install_dir = '" + install_dir_.string() +
                  "'\n[files]\nstore_dir = 'data\\store'\n");
  EXPECT_EQ(FileStoreRoot(), install_dir_ / "data" / "store");
  SetSettingsText("install_dir = '" + install_dir_.string() + "'\n[files]\nstore_dir = '/srv/x'\n");
  EXPECT_EQ(FileStoreRoot(), fs::path("/srv/x"));
}

TEST_F(FileHandlingTest, TransactionFilesRecordEachKindAndMoveIncomingFiles) {
  const fs::path folder = RequestFolder(5);
  WriteBytes(folder / "incoming" / "screenshot.png", "png");
  WriteBytes(folder / "incoming" / "log.txt", "log");

  files_->HandleTransactionFiles(5, kFilesCustomerAction, 17);
  files_->HandleTransactionFiles(5, kFilesEngineerAction, 18, Variant(), Variant(int32_t{35}));
  files_->HandleTransactionFiles(5, kFilesEngineerSave, 19, Variant("a\tb"), Variant());

  EXPECT_EQ(ReadBytes(folder / "T17" / "screenshot.png"), "png");
  EXPECT_EQ(ReadBytes(folder / "T17" / "log.txt"), "log");
  EXPECT_TRUE(fs::is_empty(folder / "incoming"));
  EXPECT_FALSE(fs::exists(folder / "T18"));  // nothing was waiting any more

  const auto log = ReadFileTransactions(5);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].time, testing::kTestNow);
  EXPECT_EQ(log[0].kind, kFilesCustomerAction);
  EXPECT_EQ(log[0].transaction_id, 17);
  EXPECT_EQ(log[0].files_moved, 2);
  EXPECT_EQ(log[0].option5, "");
  EXPECT_EQ(log[1].kind, kFilesEngineerAction);
  EXPECT_EQ(log[1].option4, "");
  EXPECT_EQ(log[1].option5, "35");
  EXPECT_EQ(log[1].files_moved, 0);
  EXPECT_EQ(log[2].kind, kFilesEngineerSave);
  EXPECT_EQ(log[2].option4, "a b");  // a tab would break the line's fields
  EXPECT_TRUE(ReadFileTransactions(6).empty());
}

TEST_F(FileHandlingTest, TransferFileStoresACopyUnderItsKindAndReplacesAnOlderOne) {
  const fs::path list = LocalFile("engineers.txt", "first");
  files_->TransferFile(list.string(), 9, kFilesEngineerList, 0);
  const fs::path stored = RequestFolder(9) / "kind-11" / "engineers.txt";
  EXPECT_EQ(ReadBytes(stored), "first");
  EXPECT_TRUE(fs::exists(list));  // a copy, not a move

  WriteBytes(list, "second");
  files_->TransferFile(list.string(), 9, kFilesEngineerList, 0);
  EXPECT_EQ(ReadBytes(stored), "second");
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(stored.parent_path()), fs::directory_iterator()),
            1);
}

TEST_F(FileHandlingTest, StoreFailuresRaiseTheFileServerErrorAndStoreNothing) {
  ExpectError(err::kFileServer, [&] {
    files_->TransferFile((install_dir_ / "no-such.txt").string(), 9, kFilesEngineerList, 0);
  });
  ExpectError(err::kFileServer, [&] { files_->TransferFile("", 9, kFilesEngineerList, 0); });
  // A folder is not a file.
  ExpectError(err::kFileServer,
              [&] { files_->TransferFile(install_dir_.string(), 9, kFilesEngineerList, 0); });
  EXPECT_FALSE(fs::exists(RequestFolder(9)));

  // A store that cannot be created: a plain file stands where its folder would go.
  const fs::path list = LocalFile("engineers.txt", "x");
  WriteBytes(install_dir_ / "var", "not a folder");
  ExpectError(err::kFileServer,
              [&] { files_->TransferFile(list.string(), 9, kFilesEngineerList, 0); });
  ExpectError(err::kFileServer,
              [&] { files_->HandleTransactionFiles(9, kFilesCustomerAction, 1); });
  EXPECT_EQ(ReadBytes(install_dir_ / "var"), "not a folder");
}

TEST_F(FileHandlingTest, AnUploadLandsWholeInIncomingOrNotAtAll) {
  EXPECT_EQ(StoreIncomingFile(12, "scan.pdf", "first"), "incoming/scan.pdf");
  EXPECT_EQ(StoreIncomingFile(12, "scan.pdf", std::string("second\0", 7)), "incoming/scan.pdf");
  EXPECT_EQ(ReadBytes(RequestFolder(12) / "incoming" / "scan.pdf"), std::string("second\0", 7));
  EXPECT_EQ(RequestFile(12, "incoming/scan.pdf"), RequestFolder(12) / "incoming" / "scan.pdf");
  // Only the file lands: the temporary sits outside incoming/ and is gone.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(RequestFolder(12))) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);  // incoming/ and the file

  for (const std::string& name :
       {std::string(""), std::string("."), std::string(".."), std::string(".hidden"),
        std::string("a/b"), std::string("a\\b"), std::string("line\nbreak"),
        std::string(kMaxAttachmentName + 1, 'x')}) {
    ExpectError(err::kInvalidProcedureCall, [&] { StoreIncomingFile(13, name, "x"); });
  }
  EXPECT_FALSE(fs::exists(RequestFolder(13)));

  // incoming/ a link to elsewhere: refused, nothing written there or left behind.
  fs::create_directories(install_dir_ / "elsewhere");
  fs::create_directories(RequestFolder(14));
  fs::create_directory_symlink(install_dir_ / "elsewhere", RequestFolder(14) / "incoming");
  ExpectError(err::kFileServer, [&] { StoreIncomingFile(14, "x.txt", "x"); });
  EXPECT_TRUE(fs::is_empty(install_dir_ / "elsewhere"));
  EXPECT_EQ(RequestFile(14, "incoming/x.txt"), std::nullopt);

  // A request folder that cannot be created: a plain file stands where it would go.
  WriteBytes(RequestFolder(15), "not a folder");
  ExpectError(err::kFileServer, [&] { StoreIncomingFile(15, "x.txt", "x"); });
  EXPECT_EQ(ReadBytes(RequestFolder(15)), "not a folder");

  // Reading back: two plain segments of a plain folder, nothing else.
  for (const char* path :
       {"incoming", "incoming/", "/incoming/scan.pdf", "incoming/../incoming/scan.pdf",
        ".x/scan.pdf", "incoming/.x", "incoming/scan.pdf/x"}) {
    EXPECT_EQ(RequestFile(12, path), std::nullopt) << path;
  }
}

TEST_F(FileHandlingTest, ReportFilesOfRequestZeroCanBeFoundReplacedAndDeleted) {
  const fs::path report = LocalFile("analysis.xls", "v1");
  EXPECT_FALSE(files_->FileAlreadyAttached("analysis.xls", 0, {kFilesReport}));
  files_->PutRemoteFile(report.string(), 0);
  EXPECT_TRUE(files_->FileAlreadyAttached("analysis.xls", 0, {kFilesReport}));
  EXPECT_TRUE(files_->FileAlreadyAttached("analysis.xls", 0, {kFilesEngineerList, kFilesReport}));
  EXPECT_FALSE(files_->FileAlreadyAttached("analysis.xls", 0, {kFilesEngineerList}));
  EXPECT_FALSE(files_->FileAlreadyAttached("analysis.xls", 1, {kFilesReport}));

  files_->DeleteRemoteFile("analysis.xls", 0);
  EXPECT_FALSE(files_->FileAlreadyAttached("analysis.xls", 0, {kFilesReport}));
  files_->DeleteRemoteFile("analysis.xls", 0);  // already gone: nothing to do
  EXPECT_TRUE(fs::exists(report));

  // Names that are not plain file names never reach the file system.
  ExpectError(err::kInvalidProcedureCall,
              [&] { files_->FileAlreadyAttached("../0/kind-10/x", 0, {kFilesReport}); });
  ExpectError(err::kInvalidProcedureCall, [&] { files_->DeleteRemoteFile("..", 0); });
  ExpectError(err::kInvalidProcedureCall, [&] { files_->DeleteRemoteFile("", 0); });
}

TEST_F(FileHandlingTest, PublishingCopiesTheFilesMarkedBeforehand) {
  const fs::path folder = RequestFolder(21);
  WriteBytes(folder / "incoming" / "fix.txt", "fix");
  files_->HandleTransactionFiles(21, kFilesEngineerAction, 30);
  files_->MarkFilesForPublishing(21);
  // A file that arrives after marking is not published.
  WriteBytes(folder / "incoming" / "late.txt", "late");
  files_->HandleTransactionFiles(21, kFilesCustomerAction, 31);

  files_->PublishFiles(21, 4711);
  const fs::path faq = FileStoreRoot() / "faq" / "4711";
  EXPECT_EQ(ReadBytes(faq / "T30" / "fix.txt"), "fix");
  EXPECT_FALSE(fs::exists(faq / "T31"));
  EXPECT_TRUE(fs::exists(folder / "T30" / "fix.txt"));  // published copies, originals stay

  // A marked file that disappeared fails the publication.
  fs::remove(folder / "T30" / "fix.txt");
  ExpectError(err::kFileServer, [&] { files_->PublishFiles(21, 4712); });
}

// Nothing leads out of the store: links in incoming/ or among the action folders are never
// moved, listed or published (the files they point to stay as they were), and a publish list
// that names a path outside the action folders fails the publication with nothing copied.
TEST_F(FileHandlingTest, LinksAndForeignPathsNeverLeadOutOfTheStore) {
  const fs::path folder = RequestFolder(40);
  const fs::path outside = install_dir_ / "elsewhere";
  WriteBytes(outside / "secret.txt", "secret");
  WriteBytes(outside / "folder" / "other.txt", "other");
  WriteBytes(folder / "incoming" / "plain.txt", "plain");
  fs::create_symlink(outside / "secret.txt", folder / "incoming" / "link.txt");
  fs::create_directory_symlink(outside / "folder", folder / "incoming" / "linked");
  fs::create_directory_symlink(outside / "folder", folder / "T99");

  files_->HandleTransactionFiles(40, kFilesCustomerAction, 41);
  EXPECT_EQ(ReadBytes(folder / "T41" / "plain.txt"), "plain");
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "T41" / "link.txt")));
  EXPECT_EQ(ReadFileTransactions(40)[0].files_moved, 1);
  fs::create_symlink(outside / "secret.txt", folder / "T41" / "late-link.txt");
  files_->MarkFilesForPublishing(40);
  EXPECT_EQ(ReadBytes(folder / "publish.lst"), "T41/plain.txt\n");
  files_->PublishFiles(40, 1);
  const fs::path faq = FileStoreRoot() / "faq";
  EXPECT_EQ(ReadBytes(faq / "1" / "T41" / "plain.txt"), "plain");
  EXPECT_FALSE(fs::exists(faq / "1" / "T99"));

  for (const std::string& line :
       {(outside / "secret.txt").string(), std::string("T41/../../../elsewhere/secret.txt"),
        std::string("../40/T41/plain.txt"), std::string("T41/late-link.txt"),
        std::string("T99/other.txt")}) {
    WriteBytes(folder / "publish.lst", line + "\n");
    ExpectError(err::kFileServer, [&] { files_->PublishFiles(40, 2); });
  }
  EXPECT_TRUE(fs::is_empty(faq / "2"));
  EXPECT_EQ(ReadBytes(outside / "secret.txt"), "secret");
  EXPECT_EQ(ReadBytes(outside / "folder" / "other.txt"), "other");
}

// A name with a line break is not taken in from incoming/, so the publish list (one path a line)
// stays readable and publishing works on every retry.
TEST_F(FileHandlingTest, NamesWithLineBreaksStayOutOfThePublishList) {
  const fs::path folder = RequestFolder(42);
  WriteBytes(folder / "incoming" / "two\nlines.txt", "x");
  WriteBytes(folder / "incoming" / "fine.txt", "fine");
  files_->HandleTransactionFiles(42, kFilesEngineerAction, 43);
  EXPECT_TRUE(fs::exists(folder / "incoming" / "two\nlines.txt"));
  EXPECT_EQ(ReadBytes(folder / "T43" / "fine.txt"), "fine");
  fs::rename(folder / "incoming" / "two\nlines.txt", folder / "T43" / "two\nlines.txt");
  files_->MarkFilesForPublishing(42);
  EXPECT_EQ(ReadBytes(folder / "publish.lst"), "T43/fine.txt\n");
  files_->PublishFiles(42, 7);
  files_->PublishFiles(42, 7);
  EXPECT_EQ(ReadBytes(FileStoreRoot() / "faq" / "7" / "T43" / "fine.txt"), "fine");
}

}  // namespace
}  // namespace heliq
