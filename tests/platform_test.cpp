// The native file calls, on whichever system the tests run: the same bytes, names and replace
// semantics on Linux and on Windows.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/dirlock.h"
#include "platform/fileutil.h"
#include "tests/harness.h"
#include "tests/process.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

class NativeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(previous_); }

  static std::string Content(const std::string& name) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(name, content)) << name;
    return content;
  }

  Platform& os_ = NativePlatform();
  kvtest::TempDir dir_;
  fs::path previous_;
};

std::string EveryByte(size_t repeats) {
  std::string bytes;
  for (size_t r = 0; r < repeats; ++r) {
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  }
  return bytes;
}

TEST_F(NativeFiles, BytesPassUnchangedThroughWriteSeekAndRead) {
  // CR, LF and 0x1A must not be translated; the size crosses the read chunks.
  const std::string bytes = EveryByte(300);
  auto file = os_.Create("a.bin");
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Write(bytes.data(), static_cast<int64_t>(bytes.size())));
  EXPECT_TRUE(file->Sync());
  EXPECT_TRUE(file->Close());

  file = os_.OpenRead("a.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), static_cast<int64_t>(bytes.size()));
  ASSERT_TRUE(file->SeekTo(256 * 7 + 10));
  char piece[4] = {};
  EXPECT_EQ(file->Read(piece, 4), 4);
  EXPECT_EQ(std::string(piece, 4), "\x0A\x0B\x0C\x0D");
  ASSERT_TRUE(file->SeekEnd());
  EXPECT_EQ(file->Read(piece, 4), 0);
  file->Close();

  // Appending keeps what is there; opening for append creates a missing file.
  EXPECT_TRUE(AppendToFile("a.bin", "\r\n"));
  EXPECT_EQ(Content("a.bin"), bytes + "\r\n");
  EXPECT_TRUE(AppendToFile("new.bin", "x"));
  EXPECT_EQ(Content("new.bin"), "x");
  // Creating truncates.
  EXPECT_TRUE(WriteWholeFile("a.bin", "y"));
  EXPECT_EQ(Content("a.bin"), "y");
}

TEST_F(NativeFiles, RenameAndCopyReplaceTheirTarget) {
  ASSERT_TRUE(WriteWholeFile("from.dat", "new"));
  ASSERT_TRUE(WriteWholeFile("to.dat", "old and longer"));
  EXPECT_TRUE(os_.Copy("from.dat", "to.dat"));
  EXPECT_EQ(Content("to.dat"), "new");
  EXPECT_EQ(Content("from.dat"), "new");

  ASSERT_TRUE(WriteWholeFile("to.dat", "old and longer"));
  EXPECT_TRUE(os_.Rename("from.dat", "to.dat"));
  EXPECT_FALSE(os_.Exists("from.dat"));
  EXPECT_EQ(Content("to.dat"), "new");

  EXPECT_TRUE(ReplaceFileSafely("to.dat", "to.tmp", "third"));
  EXPECT_EQ(Content("to.dat"), "third");
  EXPECT_FALSE(os_.Exists("to.tmp"));

  EXPECT_TRUE(os_.Remove("to.dat"));
  EXPECT_FALSE(os_.Exists("to.dat"));
}

TEST_F(NativeFiles, RenamesSyncTheirDirectoriesAndStillReplace) {
  // Each rename forces its directories to disk (an fsync of the directory on POSIX, write-through
  // on Windows) before it reports success, in this directory and in another.
  fs::create_directory("sub");
  ASSERT_TRUE(WriteWholeFile("a.dat", "one"));
  ASSERT_TRUE(WriteWholeFile("sub/a.dat", "old and longer"));
  EXPECT_TRUE(os_.Rename("a.dat", "sub/a.dat"));
  EXPECT_FALSE(os_.Exists("a.dat"));
  EXPECT_EQ(Content("sub/a.dat"), "one");
  EXPECT_TRUE(os_.Rename("sub/a.dat", "b.dat"));
  EXPECT_TRUE(os_.Rename("b.dat", "c.dat"));
  EXPECT_FALSE(os_.Exists("sub/a.dat"));
  EXPECT_EQ(Content("c.dat"), "one");
}

TEST_F(NativeFiles, LockFileHoldsOthersOutAndNamesItsHolder) {
  std::unique_ptr<FileLock> first;
  std::unique_ptr<FileLock> second;
  std::unique_ptr<FileLock> third;
  std::string text;
  ASSERT_EQ(os_.LockFile("lock.dat", "Kolvex", true, first, text), LockResult::kTaken);
  const LockHolder holder = ParseLockFile(Content("lock.dat"));
  EXPECT_EQ(holder.program, "Kolvex");
  EXPECT_FALSE(holder.pid.empty());
  EXPECT_EQ(holder.start.size(), 19u) << holder.start;
  // Another open of the file, even in this process, is held out, exclusive or shared, and reads
  // who holds it.
  EXPECT_EQ(os_.LockFile("lock.dat", "kvimport", true, second, text), LockResult::kBusy);
  EXPECT_FALSE(second);
  EXPECT_EQ(ParseLockFile(text).pid, holder.pid);
  EXPECT_EQ(os_.LockFile("lock.dat", "kvreport", false, second, text), LockResult::kBusy);
  EXPECT_EQ(ParseLockFile(text).program, "Kolvex");
  first.reset();
  // Shared holders share; a writer waits for none of them and is held out.
  EXPECT_EQ(os_.LockFile("lock.dat", "kvreport", false, first, text), LockResult::kTaken);
  EXPECT_EQ(os_.LockFile("lock.dat", "kvreport", false, second, text), LockResult::kTaken);
  EXPECT_EQ(os_.LockFile("lock.dat", "Kolvex", true, third, text), LockResult::kBusy);
  EXPECT_EQ(ParseLockFile(text).program, "kvreport");
  first.reset();
  second.reset();
  EXPECT_EQ(os_.LockFile("lock.dat", "Kolvex", true, third, text), LockResult::kTaken);
  third.reset();

  // A process holds the working directory once: the inner runs of kvcampaign take nothing more
  // and leave the text of the outer holder.
  {
    const DirectoryLock outer("", "kvcampaign", true);
    ASSERT_EQ(outer.result(), LockResult::kTaken);
    {
      const DirectoryLock inner("", "Kolvex", true);
      EXPECT_EQ(inner.result(), LockResult::kTaken);
    }
    EXPECT_EQ(os_.LockFile(kLockFile, "Kolvex", true, third, text), LockResult::kBusy);
    EXPECT_EQ(ParseLockFile(text).program, "kvcampaign");
  }
  EXPECT_EQ(os_.LockFile(kLockFile, "Kolvex", true, third, text), LockResult::kTaken);
  third.reset();
  // Nothing but a regular file is a lock file.
  fs::create_directories(fs::path("d") / kLockFile);
  EXPECT_EQ(DirectoryLock("d", "Kolvex", true).result(), LockResult::kUnavailable);
}

TEST_F(NativeFiles, ReplacementsWriteItemsInPiecesAndOnlyACommitReplaces) {
  ASSERT_TRUE(WriteWholeFile("to.dat", "old"));
  // Three pieces, the last one short.
  const int64_t count = kItemPieceBytes / 12 * 2 + 5;
  const auto make = [](unsigned char* p, int64_t i) {
    StoreLE(p, static_cast<uint64_t>(i) * 3);
    StoreLE(p + 8, static_cast<int32_t>(-i));
  };
  {
    ReplacementFile dropped("to.dat", "to.tmp");
    EXPECT_TRUE(WriteItems(dropped, count, 12, make));
    EXPECT_TRUE(os_.Exists("to.tmp"));
  }
  EXPECT_FALSE(os_.Exists("to.tmp"));
  EXPECT_EQ(Content("to.dat"), "old");

  ReplacementFile file("to.dat", "to.tmp");
  EXPECT_TRUE(WriteItems(file, count, 12, make));
  EXPECT_TRUE(file.Commit());
  EXPECT_FALSE(os_.Exists("to.tmp"));
  auto in = os_.OpenRead("to.dat");
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Size(), count * 12);
  int64_t seen = 0;
  int64_t wrong = 0;
  const auto check = [&](const unsigned char* p, int64_t i) {
    wrong += i != seen++ || LoadLE<uint64_t>(p) != static_cast<uint64_t>(i) * 3 ||
             LoadLE<int32_t>(p + 8) != -i;
  };
  EXPECT_TRUE(ReadItems(*in, count, 12, check));
  EXPECT_EQ(seen, count);
  EXPECT_EQ(wrong, 0);
  // Past the end nothing is handed on.
  EXPECT_FALSE(ReadItems(*in, 1, 12, check));
  EXPECT_EQ(seen, count);
  in->Close();
}

TEST_F(NativeFiles, MissingFilesAndDirectoriesAreNotOpened) {
  EXPECT_FALSE(os_.OpenRead("missing.dat"));
  EXPECT_FALSE(os_.OpenRead(""));
  EXPECT_FALSE(os_.Exists("missing.dat"));
  EXPECT_FALSE(os_.Copy("missing.dat", "copy.dat"));
  EXPECT_FALSE(os_.Exists("copy.dat"));
  EXPECT_FALSE(os_.Rename("missing.dat", "other.dat"));
  EXPECT_FALSE(os_.Remove("missing.dat"));
  fs::create_directory("sub");
  EXPECT_TRUE(os_.Exists("sub"));
  EXPECT_FALSE(os_.OpenRead("sub"));
}

TEST_F(NativeFiles, ReadersShareTheFile) {
  // Another program may look at a table file while this one reads it.
  ASSERT_TRUE(WriteWholeFile("shared.txt", "abc"));
  auto reader = os_.OpenRead("shared.txt");
  ASSERT_TRUE(reader);
  auto second = os_.OpenRead("shared.txt");
  ASSERT_TRUE(second);
  char got[3] = {};
  EXPECT_EQ(second->Read(got, 3), 3);
  EXPECT_EQ(std::string(got, 3), "abc");
  EXPECT_TRUE(second->Close());
  EXPECT_TRUE(reader->Close());
}

TEST_F(NativeFiles, NamesAreCodePage932) {
  // The user types a Japanese file name in code page 932; on Windows it must name the Unicode
  // file, whatever the system's ANSI code page, and on Linux it stays the typed bytes.
  const std::string name = "表データ.txt";
  ASSERT_EQ(name.substr(0, 2), "\x95\x5C");
  ASSERT_TRUE(WriteWholeFile(name, "1\r\n"));
  EXPECT_TRUE(os_.Exists(name));
  EXPECT_EQ(Content(name), "1\r\n");
  int found = 0;
  for (const auto& entry : fs::directory_iterator(".")) {
    const fs::path file = entry.path().filename();
    EXPECT_TRUE(file == fs::path(u8"表データ.txt") || file.string() == name);
    ++found;
  }
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(os_.Copy(name, "コピー.txt"));
  EXPECT_TRUE(os_.Rename("コピー.txt", name));
  EXPECT_TRUE(os_.Remove(name));
  EXPECT_FALSE(os_.Exists(name));
}

// Standard input of the real program: one line per answer, LF ends it and one CR before the LF
// goes with it, a last line without LF still counts. kvconvert converts only on the answer "2".
TEST(NativeInput, PipedAnswersAreReadLineByLine) {
  std::string table;
  for (const uint64_t value : {7u, 2u, 7u})
    table += kvtest::LE<uint64_t>(value) + std::string(8, '\0');
  struct Case {
    const char* input;
    bool converts;
  };
  for (const Case& c :
       {Case{"2\n\n", true}, Case{"2\r\n\r\n", true}, Case{"2", true}, Case{"2\r", true},
        Case{"\n2\n", false}, Case{"2\r\r\n", false}, Case{"", false}}) {
    const auto run = kvtest::RunExecutable(KV_CONVERT_EXE, c.input, {{"_APData.dat", table}});
    EXPECT_EQ(run.exitCode, c.converts ? kDone : kNoWork) << c.input;
    EXPECT_EQ(run.files.count("_APData32.dat"), c.converts ? 1u : 0u) << c.input;
  }
}

}  // namespace
}  // namespace kv
