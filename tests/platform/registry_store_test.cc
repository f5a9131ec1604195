// The registry store: its file format (the scheduling service's contract), atomic replacement,
// bad input and concurrent writers.
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "HKLM\\SOFTWARE\\Heliq\\Parameters";

std::string Path(std::string_view name) { return std::string(kKey) + "\\" + std::string(name); }

std::string FileText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("heliq-registry-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Expects `call` to fail with `number`.
  template <typename F>
  void ExpectError(int32_t number, F&& call) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number) << e.description();
    }
  }

  // Files in the folder other than the store and its lock (left-over temporary files).
  std::vector<std::string> StrayFiles(const RegistryStore& store) {
    std::vector<std::string> stray;
    for (const auto& entry : fs::directory_iterator(store.file().parent_path())) {
      const std::string name = entry.path().filename().string();
      if (name != store.file().filename().string() &&
          name != store.file().filename().string() + ".lock") {
        stray.push_back(name);
      }
    }
    return stray;
  }

  fs::path dir_;
};

TEST_F(RegistryStoreTest, WritesTheDocumentedFileFormat) {
  RegistryStore store(dir_ / "var" / "registry.txt");
  EXPECT_TRUE(store.List().empty()) << "no file yet holds no values";
  EXPECT_EQ(store.Read(Path("Archive_Run")), std::nullopt);

  store.Write(Path("Archive_Run"), "1");
  store.Write("HKLM\\Other\\Key\\Flag", "x");
  store.Write(Path("Archive_Time"), "2009-01-01 07:05:09");
  // Replacing a value keeps its place; names and keys match without regard to case.
  store.Write("hklm\\software\\heliq\\parameters\\ARCHIVE_RUN", "0");
  store.Write(Path("Tricky"), "a\\b\nc\rd\te=f [g] #h");
  store.Write(Path("Empty"), "");

  const std::string text = FileText(store.file());
  const std::string body = text.substr(text.find('\n') + 1);
  EXPECT_EQ(text.front(), '#');
  EXPECT_EQ(body,
            "[HKLM\\SOFTWARE\\Heliq\\Parameters]\n"
            "Archive_Run=0\n"
            "Archive_Time=2009-01-01 07:05:09\n"
            "Tricky=a\\\\b\\nc\\rd\\te=f [g] #h\n"
            "Empty=\n"
            "[HKLM\\Other\\Key]\n"
            "Flag=x\n");

  EXPECT_EQ(store.Read(Path("archive_run")), "0");
  EXPECT_EQ(store.Read(Path("Tricky")), "a\\b\nc\rd\te=f [g] #h");
  EXPECT_EQ(store.Read(Path("Empty")), "");
  const auto values = store.List();
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].key, std::string(kKey));
  EXPECT_EQ(values[0].name, "Archive_Run");
  EXPECT_EQ(values[4].key, "HKLM\\Other\\Key");
  EXPECT_TRUE(StrayFiles(store).empty());
}

TEST_F(RegistryStoreTest, ReadsAHandEditedFile) {
  const fs::path file = dir_ / "registry.txt";
  WriteText(file,
            "\xEF\xBB\xBF# edited by hand\r\n\r\n[HKLM\\A]\r\nPath=C:\\Apps\\Desk\r\n"
            "Text=caf\xC3\xA9\r\n");
  RegistryStore store(file);
  EXPECT_EQ(store.Read("HKLM\\A\\Path"), "C:\\Apps\\Desk") << "unknown escapes stay as written";
  EXPECT_EQ(store.Read("HKLM\\A\\Text"), "caf\xC3\xA9");
  store.Write("HKLM\\A\\Text", "tea");
  EXPECT_EQ(store.Read("HKLM\\A\\Path"), "C:\\Apps\\Desk") << "other values survive a write";
}

TEST_F(RegistryStoreTest, BadValuePathsAndTypesChangeNothing) {
  RegistryStore store(dir_ / "registry.txt");
  store.Write(Path("Kept"), "1");
  const std::string before = FileText(store.file());
  for (const std::string& path :
       {std::string("NoKey"), std::string("\\Name"), Path(""), Path("a=b"), Path("[d"),
        Path("line\nbreak"), std::string(kKey) + "\\\\Name"}) {
    SCOPED_TRACE(path);
    ExpectError(err::kInvalidProcedureCall, [&] { store.Write(path, "v"); });
  }
  ExpectError(err::kInvalidProcedureCall, [&] { store.Write(Path("Number"), "1", "REG_DWORD"); });
  ExpectError(err::kInvalidProcedureCall, [&] { store.Read("NoKey"); });
  EXPECT_EQ(FileText(store.file()), before);
}

TEST_F(RegistryStoreTest, SeveralValuesAreWrittenTogetherOrNotAtAll) {
  RegistryStore store(dir_ / "registry.txt");
  store.Write(Path("B"), "old");
  store.WriteAll({{Path("A"), "1"}, {Path("b"), "2"}, {Path("C"), "3"}, {Path("A"), "4"}});
  std::vector<std::string> values;
  for (const auto& v : store.List()) values.push_back(v.name + "=" + v.value);
  EXPECT_EQ(values, (std::vector<std::string>{"B=2", "A=4", "C=3"}));

  const std::string text = FileText(store.file());
  ExpectError(err::kInvalidProcedureCall, [&] {
    store.WriteAll({{Path("A"), "5"}, {"no-separator", "6"}});
  });
  ExpectError(err::kInvalidProcedureCall, [&] { store.WriteAll({{Path("A"), "5"}}, "REG_DWORD"); });
  EXPECT_EQ(FileText(store.file()), text);
  EXPECT_TRUE(StrayFiles(store).empty());
}

TEST_F(RegistryStoreTest, UnusableFilesFailClearlyAndAreLeftAsTheyWere) {
  // The store's path is a folder.
  fs::create_directories(dir_ / "folder.txt");
  RegistryStore folder(dir_ / "folder.txt");
  ExpectError(err::kPathFileAccess, [&] { folder.Write(Path("A"), "1"); });
  ExpectError(err::kPathFileAccess, [&] { folder.List(); });

  // Its folder cannot be created: a file stands in the way.
  WriteText(dir_ / "plain", "x");
  RegistryStore blocked(dir_ / "plain" / "registry.txt");
  ExpectError(err::kPathFileAccess, [&] { blocked.Write(Path("A"), "1"); });

  // A file that is not in the store's format is not overwritten.
  const std::string garbage = "Archive_Run=1\n[K]\nno equals sign\n";
  WriteText(dir_ / "bad.txt", garbage);
  RegistryStore bad(dir_ / "bad.txt");
  ExpectError(err::kTypeMismatch, [&] { bad.Write(Path("A"), "1"); });
  ExpectError(err::kTypeMismatch, [&] { bad.List(); });
  EXPECT_EQ(FileText(dir_ / "bad.txt"), garbage);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.find(".txt.") == std::string::npos || name.ends_with(".lock"))
        << "temporary file left behind: " << name;
  }
}

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothingAndReadersNeverSeeATornFile) {
  RegistryStore store(dir_ / "registry.txt");
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 25;
  std::atomic<bool> done{false};
  std::atomic<int> reader_failures{0};
  std::thread reader([&] {
    size_t last = 0;
    while (!done) {
      try {
        const size_t now = RegistryStore(store.file()).List().size();
        if (now < last) ++reader_failures;
        last = now;
      } catch (...) {
        ++reader_failures;
      }
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      RegistryStore own(store.file());
      for (int i = 0; i < kValuesEach; ++i) {
        own.Write(Path("W" + std::to_string(w) + "_" + std::to_string(i)), std::to_string(i));
      }
    });
  }
  for (auto& writer : writers) writer.join();
  done = true;
  reader.join();
  EXPECT_EQ(reader_failures, 0);
  EXPECT_EQ(store.List().size(), static_cast<size_t>(kWriters * kValuesEach));
  EXPECT_EQ(store.Read(Path("W3_24")), "24");
  EXPECT_TRUE(StrayFiles(store).empty());
}

TEST_F(RegistryStoreTest, LocationComesFromTheConfiguration) {
  InitializeSystem();
  testing::UseSettingsWithoutDatabase(dir_);
  EXPECT_EQ(RegistryStore::FromSettings().file(), dir_ / "var" / "registry.txt");

  SetSettingsText("install_dir = '" + dir_.string() + "'\n[registry]\nfile = 'etc/reg.txt'\n");
  EXPECT_EQ(RegistryStore::FromSettings().file(), dir_ / "etc" / "reg.txt");
  SetSettingsText("install_dir = '" + dir_.string() + "'\n[registry]\nfile = '/srv/reg.txt'\n");
  EXPECT_EQ(RegistryStore::FromSettings().file(), fs::path("/srv/reg.txt"));
}

}  // namespace
}  // namespace heliq
