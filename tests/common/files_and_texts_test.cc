// Text files, attachment folders, upload paths and localised texts.
#include "common/files_and_texts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using testing::DatabaseTest;
using testing::RecordingLog;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// UTF-16 little-endian bytes of code units.
std::string Utf16Le(std::u16string_view units) {
  std::string out;
  for (char16_t unit : units) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

// A scratch folder and a recording log; no database.
class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("heliq-files-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    RecordingLog::Clear();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(std::string_view name) const { return (dir_ / name).string(); }

  fs::path dir_;
  ScopedRegistration log_{std::string(kLogClassId),
                          [] { return std::make_unique<RecordingLog>(); }};
};

TEST(TrimPathSeparatorTest, TurnsBackslashesIntoSlashesAndDropsOneTrailingSeparator) {
  EXPECT_EQ(TrimPathSeparator("data/upload/"), "data/upload");
  EXPECT_EQ(TrimPathSeparator("data\\upload\\"), "data/upload");
  EXPECT_EQ(TrimPathSeparator("data"), "data");
  EXPECT_EQ(TrimPathSeparator("a\\b/c"), "a/b/c");
  // Only one separator goes.
  EXPECT_EQ(TrimPathSeparator("data//"), "data/");
  EXPECT_EQ(TrimPathSeparator("/"), "");
  EXPECT_EQ(TrimPathSeparator(""), "");
}

TEST(Utf8ToUtf16Test, ConvertsEveryPlaneAndReplacesIllFormedSequences) {
  // a, e-acute (2 bytes), euro sign (3 bytes), musical G clef U+1D11E (4 bytes, surrogate pair).
  EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"),
            (std::u16string{u'a', 0x00E9, 0x20AC, 0xD834, 0xDD1E}));
  EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)), (std::u16string{u'a', 0, u'b'}));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));  // U+10FFFF
  // A stray byte, a lone continuation byte, an impossible lead byte: one U+FFFD each.
  EXPECT_EQ(Utf8ToUtf16("x\xFFy\x80z\xF8"),
            (std::u16string{u'x', 0xFFFD, u'y', 0xFFFD, u'z', 0xFFFD}));
  // A truncated sequence is one U+FFFD, and the byte that cut it short is read afresh.
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"
                        "a"),
            (std::u16string{0xFFFD, u'a'}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98"), (std::u16string{0xFFFD}));
  // Overlong forms, encoded surrogates and values above U+10FFFF never pass as characters.
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
}

TEST_F(TextFileTest, CreateFileWritesUtf16WithMarkAndLineBreakAndReplacesTheFile) {
  const std::string path = PathOf("engineers.txt");
  WriteBytes(path, std::string(200, 'x'));  // longer than the new content: must not survive
  CreateFile(path,
             "Gr\xC3\xBC\xC3\x9F"
             "e \xF0\x9D\x84\x9E\n2");
  EXPECT_EQ(ReadBytes(path), "\xFF\xFE" + Utf16Le(u"Gr\u00FC\u00DFe \U0001D11E\n2\r\n"));
  // Invalid UTF-8 is written as U+FFFD, never as raw bytes.
  CreateFile(path, "\xFF");
  EXPECT_EQ(ReadBytes(path), "\xFF\xFE" + Utf16Le(u"\uFFFD\r\n"));
  CreateFile(path, "");
  EXPECT_EQ(ReadBytes(path), "\xFF\xFE" + Utf16Le(u"\r\n"));
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_F(TextFileTest, CreateFileInMissingFolderFailsWithReportAndCreatesNothing) {
  const std::string path = PathOf("no-such-folder/list.txt");
  try {
    CreateFile(path, "text");
    FAIL() << "no failure";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound);
    EXPECT_EQ(e.description(), "\r\nMETHOD: HeliqUtilities.CreateFile caught: Path not found(76).");
  }
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
  ASSERT_EQ(RecordingLog::Entries().size(), 1u);
  EXPECT_EQ(RecordingLog::Entries()[0].level, 0);
}

TEST_F(TextFileTest, OpenAndWriteToFileAppendsBlankLineAndLineInTheFilesEncoding) {
  const std::string plain = PathOf("sync.log");
  WriteBytes(plain, "first\r\n");
  OpenAndWriteToFile(plain, "second \xC3\xA9");
  OpenAndWriteToFile(plain, "third");
  EXPECT_EQ(ReadBytes(plain), "first\r\n\r\nsecond \xC3\xA9\r\n\r\nthird\r\n");

  // A file that CreateFile wrote stays UTF-16 throughout.
  const std::string wide = PathOf("wide.txt");
  CreateFile(wide, "eins");
  OpenAndWriteToFile(wide, "zw\xC3\xB6lf \xF0\x9D\x84\x9E");
  EXPECT_EQ(ReadBytes(wide), "\xFF\xFE" + Utf16Le(u"eins\r\n\r\nzw\u00F6lf \U0001D11E\r\n"));
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_F(TextFileTest, OpenAndWriteToFileOnMissingFileFailsReportedAndCreatesNothing) {
  const std::string path = PathOf("missing.log");
  try {
    OpenAndWriteToFile(path, "line");
    FAIL() << "a missing file was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_EQ(e.description(),
              "\r\nMETHOD: HeliqUtilities.OpenAndWriteToFile caught: File not found(53).");
  }
  EXPECT_FALSE(fs::exists(path));
  const auto entries = RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text,
            "HeliqUtilities.OpenAndWriteToFile caught: File not found(53). Additional "
            "information: \r\nMETHOD: HeliqUtilities.OpenAndWriteToFile caught: File not "
            "found(53).");
  // A missing folder is told apart from a missing file.
  try {
    OpenAndWriteToFile(PathOf("gone/missing.log"), "line");
    FAIL() << "a missing folder was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound);
  }
}

TEST_F(TextFileTest, CloseTextConnectionClosesFlushesAndEmptiesTheReference) {
  std::unique_ptr<TextStream> stream;
  CloseTextConnection(stream);  // empty reference: nothing
  EXPECT_EQ(stream, nullptr);

  const std::string path = PathOf("list.txt");
  stream = TextStream::Create(path, TextStream::Encoding::kUtf8);
  stream->WriteLine("a");
  CloseTextConnection(stream);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(ReadBytes(path), "a\r\n");

  // A stream closed already, and one closed while a failure is being handled.
  stream = TextStream::OpenForAppend(path);
  stream->Close();
  CloseTextConnection(stream);
  EXPECT_EQ(stream, nullptr);
  stream = TextStream::OpenForAppend(path);
  try {
    throw ComError::Of(err::kOverflow, "test");
  } catch (const ComError&) {
    CloseTextConnection(stream);
  }
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(RecordingLog::Entries().empty());

  // Writing to a closed stream is an error, not a silent loss.
  auto closed = TextStream::OpenForAppend(path);
  closed->Close();
  try {
    closed->Write("lost");
    FAIL() << "write to a closed stream accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
  }
  EXPECT_EQ(ReadBytes(path), "a\r\n");
}

TEST_F(TextFileTest, DeleteAttachmentsRemovesTheFolderTreeAndIgnoresMissingOnes) {
  const fs::path folder = dir_ / "1234";
  fs::create_directories(folder / "sub");
  WriteBytes(folder / "a.txt", "a");
  WriteBytes(folder / "sub" / "b.bin", "b");
  WriteBytes(dir_ / "other.txt", "keep");

  DeleteAttachments(folder.string());
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(fs::exists(dir_ / "other.txt"));

  DeleteAttachments(folder.string());                // now missing: nothing
  DeleteAttachments((dir_ / "other.txt").string());  // not a folder: nothing
  EXPECT_TRUE(fs::exists(dir_ / "other.txt"));
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

class UploadPathAndTextsTest : public DatabaseTest {
 protected:
  // Settings of the test database with another installation directory.
  void UseInstallDir(const std::string& install_dir) {
    SetSettingsText("install_dir = '" + install_dir + "'\n[connections]\nHeliq = '" +
                    connection_string() + "'\n");
  }
  void SetParameter(std::string_view name, std::string_view value) {
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)",
         {Variant(name), Variant(value)});
  }
  void AddText(int32_t locale, std::string_view label, std::string_view text) {
    Exec("insert into I18NTEXT (LOCALEID, LABEL, TEXT) values (?, ?, ?)",
         {Variant(locale), Variant(label), Variant(text)});
  }
};

TEST_P(UploadPathAndTextsTest, UploadPathJoinsInstallDirAndStoredRelativePath) {
  UseInstallDir("/apps/desk");
  SetParameter("DataFileRelativePath", "files/");
  EXPECT_EQ(GetPhysicalUploadPath(), "/apps/desk/files/");
  Exec("update PARAMETERS set PARAM_VALUE = ?", {Variant("data\\upload\\")});
  EXPECT_EQ(GetPhysicalUploadPath(), "/apps/desk/data/upload/");
}

TEST_P(UploadPathAndTextsTest, UploadPathFailureIsReportedUnderItsOwnName) {
  SetSettingsText("install_dir = '/apps/desk'\n");  // no database configured
  try {
    GetPhysicalUploadPath();
    FAIL() << "no failure";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    EXPECT_TRUE(e.description().starts_with(
        "\r\nMETHOD: HeliqUtilities.GetPhysicalUploadPath caught: \r\nMETHOD: "
        "HeliqProcess.Dispatch.GetParamValue caught: "))
        << e.description();
  }
}

TEST_P(UploadPathAndTextsTest, LocalisedTextFallsBackToTheLabel) {
  AddText(1033, "HQLBL0001", "Request registered");
  AddText(1041, "HQLBL0001", "\xE5\x8F\x97\xE4\xBB\x98");
  EXPECT_EQ(GetI18NText("HQLBL0001", 1033), "Request registered");
  EXPECT_EQ(GetI18NText("HQLBL0001", 1041), "\xE5\x8F\x97\xE4\xBB\x98");
  EXPECT_EQ(GetI18NText("hqlbl0001", 1033), "Request registered");  // labels ignore case
  EXPECT_EQ(GetI18NText("HQLBL0001", 1031), "HQLBL0001");           // no text for the locale
  EXPECT_EQ(GetI18NText("HQLBL9999", 1033), "HQLBL9999");
  EXPECT_EQ(GetI18NText("", 1033), "");
  const std::string hostile = "x' OR '1'='1";
  EXPECT_EQ(GetI18NText(hostile, 1033), hostile);
}

TEST_P(UploadPathAndTextsTest, MailTemplateKeepsColumnOrderAndTranslatesItsLabels) {
  AddText(1033, "HQLBL0100", "Escalation");
  AddText(1033, "HQLBL0101", "Request overdue");
  Exec(
      "insert into EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, "
      "MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) "
      "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {Variant(7), Variant("HQLBL0100"), Variant("HQLBL0101"), Variant("HQLBL0102"),
       Variant::Null(), Variant("http://desk/q"), Variant("mail.xsl"), Variant(2),
       Variant("desk@example.com"), Variant(1), Variant(31)});
  Exec("insert into EMAIL (MAIL_ID, MAIL_DESC) values (?, ?)", {Variant(8), Variant::Null()});

  DictionaryPtr info = getEMailInfo(7, 1033);
  ASSERT_NE(info, nullptr);
  std::vector<std::string> keys;
  for (const auto& [key, value] : info->entries()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "MAIL_DESC", "MAIL_SUBJECT", "MAIL_BODY", "MAIL_HTML_FILE", "MAIL_HYPERLINK",
                      "MAIL_PATH_XSL", "MAIL_TYPE", "MAIL_FROM", "MAIL_BOA", "MAIL_SENTTOROLE"}));
  EXPECT_EQ(info->Get("MAIL_DESC"), Variant("Escalation"));
  EXPECT_EQ(info->Get("MAIL_SUBJECT"), Variant("Request overdue"));
  EXPECT_EQ(info->Get("MAIL_BODY"), Variant("HQLBL0102"));  // untranslated: its code
  EXPECT_TRUE(info->Get("MAIL_HTML_FILE").IsNull());
  EXPECT_EQ(info->Get("MAIL_HYPERLINK"), Variant("http://desk/q"));
  EXPECT_EQ(info->Get("MAIL_TYPE"), Variant(2));
  EXPECT_EQ(info->Get("MAIL_SENTTOROLE"), Variant(31));

  // Another locale translates nothing; null labels give "".
  EXPECT_EQ(getEMailInfo(7, 1041)->Get("MAIL_DESC"), Variant("HQLBL0100"));
  EXPECT_EQ(getEMailInfo(8, 1033)->Get("MAIL_DESC"), Variant(""));
  EXPECT_EQ(getEMailInfo(99, 1033), nullptr);
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(UploadPathAndTextsTest, MailTemplateFailureNestsTheConnectionReport) {
  SetSettingsText("install_dir = '" + install_dir().string() + "'\n");
  try {
    getEMailInfo(7, 1033);
    FAIL() << "no failure";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    EXPECT_TRUE(
        e.description().starts_with("\r\nMETHOD: HeliqUtilities.getEMailInfo caught: \r\nMETHOD: "
                                    "HlqServiceRequestHeliqUtilities.GetHeliqConnection caught: "))
        << e.description();
  }
  EXPECT_EQ(RecordingLog::Entries().size(), 2u);  // one entry per report
}

TEST_P(UploadPathAndTextsTest, DefaultLanguageComesFromTheConfiguration) {
  EXPECT_EQ(GetDefaultLanguage(), Variant("1033"));
  SetSettingsText("install_dir = '/apps/desk'\ndefault_language = 'de'\n");
  EXPECT_EQ(GetDefaultLanguage(), Variant("de"));
  SetSettingsText("install_dir = '/apps/desk'\n");
  EXPECT_EQ(GetDefaultLanguage(), Variant(""));
  // Created directly: a context does not change the answer.
  SetSettingsText("install_dir = '/apps/desk'\ndefault_language = 1041\n");
  RunUnitOfWork([] { EXPECT_EQ(GetDefaultLanguage(), Variant("1041")); }, true);
}

INSTANTIATE_DATABASE_TEST_SUITE(UploadPathAndTextsTest);

}  // namespace
}  // namespace heliq
