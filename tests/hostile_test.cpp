// The real programs in a working directory that nothing can be trusted in: each state or work file
// replaced by a link to a file outside, a FIFO, a folder or a huge sparse file; journals that
// cannot be followed; a list that cannot be read or is out of order. Each case must end by itself
// in time with its status, change nothing outside the directory and, when refused, nothing inside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "format/filenames.h"
#include "tests/process.h"
#include "tests/search_testing.h"
#include "tests/table_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using kvtest::FreshTable;
using kvtest::PrimesBelow;
using kvtest::SievedFile;

constexpr int kTimeLimit = 20;  // seconds; the cases take well under one
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr uid_t kNobody = 65534;

// A sieved list of the range [from, to] holding the primes in it.
template <typename W>
std::string ListOf(uint64_t from, uint64_t to, std::vector<uint64_t> tweak = {}) {
  std::vector<uint64_t> entries = {from, to};
  for (uint64_t p : PrimesBelow(to + 1)) {
    if (p >= from) entries.push_back(p);
  }
  for (size_t i = 0; i + 1 < tweak.size(); i += 2) entries[tweak[i]] = tweak[i + 1];
  return SievedFile<W>(entries);
}

std::string Hex(const std::string& bytes) {
  std::ostringstream out;
  for (const char c : bytes) {
    out << "0123456789abcdef"[(static_cast<unsigned char>(c) >> 4) & 15]
        << "0123456789abcdef"[static_cast<unsigned char>(c) & 15];
  }
  return out.str();
}

// The regular files of a directory by content (a large one by its size); with `all`, the other
// entries too, by name.
std::map<std::string, std::string> Snapshot(const fs::path& dir, bool all = false) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || entry.is_symlink()) {
      if (all) files[name];
    } else if (entry.file_size() > (1u << 20)) {
      files[name] = "size " + std::to_string(entry.file_size());
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      files[name] = content.str();
    }
  }
  return files;
}

struct Dirs {
  fs::path work;
  fs::path outside;  // holds victim.txt, the target of every link and outside name
  fs::path victim() const { return outside / "victim.txt"; }
};

using Plant = std::function<void(const Dirs&)>;

enum class Entry { kLinkOut, kFifo, kFolder, kSparse };
constexpr const char* kEntryWords[] = {" as a link out", " as a FIFO", " as a folder",
                                       " of 100 GB"};

// Puts `entry` in the place of the file `name` (a sparse file of 100 GB for kSparse).
Plant Put(std::string name, Entry entry) {
  return [name, entry](const Dirs& d) {
    const fs::path path = d.work / name;
    fs::remove_all(path);
    switch (entry) {
      case Entry::kLinkOut:
        fs::create_symlink(d.victim(), path);
        break;
      case Entry::kFifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        break;
      case Entry::kFolder:
        fs::create_directory(path);
        break;
      case Entry::kSparse:
        std::ofstream(path, std::ios::binary).close();
        fs::resize_file(path, uint64_t{100} << 30);
        break;
    }
  };
}
Plant Content(std::string name, std::function<std::string(const Dirs&)> make) {
  return [name, make](const Dirs& d) {
    std::ofstream(d.work / name, std::ios::binary | std::ios::trunc) << make(d);
  };
}
Plant Unreadable(std::string name) {
  return [name](const Dirs& d) { fs::permissions(d.work / name, fs::perms::none); };
}

struct Case {
  std::string what;
  std::string exe;
  std::string input;
  Plant plant;
  int status;
  std::string named;  // the file the console must name ("" when none)
  bool needsNonRoot = false;
};

const std::string kKolvexInput = "\n3\n\n";
const std::string kImportInput = "1\n\n\n\n\n";

// A journal of this directory's present point, as a run stopped at its start leaves it; `edit`
// then damages it.
Plant Journal(std::function<std::string(std::string, const Dirs&)> edit) {
  return Content(kJournalFile, [edit](const Dirs& d) {
    const std::string table = FreshTable<Width64>(PrimesBelow(200));
    const std::string text = "KVJOURNAL 1\ntable 16 _APData.dat\nhalf _HalfData.dat\npoint " +
                             Hex(table.substr(0, 16)) + " " + std::to_string(table.size()) +
                             " -1 0 0\nfile -1 - _NOTAddData.txt\nfile -1 - _ContData.dat\n"
                             "file -1 - _ContData_insp.txt\nend\n";
    return edit(text, d);
  });
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const std::string kolvex = KV_KOLVEX_EXE;
  const std::string import = KV_IMPORT_EXE;
  const auto put = [&](const std::string& exe, const std::string& input, const std::string& name,
                       Entry entry, int status = 2) {
    cases.push_back({exe + ": " + name + kEntryWords[static_cast<int>(entry)], exe, input,
                     Put(name, entry), status, status == 0 ? "" : name});
  };
  // Every state and work file of the search as a link out, a FIFO and a folder.
  for (const char* name :
       {"_APData.dat", "_HalfData.dat", "_SievedListData.dat", "__JOURNAL___Kolvex.dat",
        "_ContData.dat", "_L3_ResultData.txt", "_NOTAddData.txt", "__TEMP___APData.dat",
        "__TEMP___OLD___APData.dat", "__OLD___APData.dat", "__TEMP___SievedListData.dat",
        "__TEMP___JOURNAL___Kolvex.dat", "__TEMP___ContData_txt.dat"}) {
    for (const Entry entry : {Entry::kLinkOut, Entry::kFifo, Entry::kFolder}) {
      put(kolvex, kKolvexInput, name, entry);
    }
  }
  for (const char* name : {"_SievedListData.dat", "__TEMP___SievedListData.dat"}) {
    put(import, kImportInput, name, Entry::kLinkOut);
    put(import, kImportInput, name, Entry::kFifo);
  }
  put(KV_CONVERT_EXE, "2\n\n", "_APData32.dat", Entry::kLinkOut);
  put(KV_REPORT_EXE, "", "_SievedListData.dat", Entry::kFifo);
  // Files of 100 GB: nothing may be believed of their size. A checkpoint that does not begin as
  // the table does is not used, and the run goes on.
  for (const char* name : {kJournalFile, "_APData.dat", "_SievedListData.dat"}) {
    put(kolvex, kKolvexInput, name, Entry::kSparse);
  }
  put(kolvex, kKolvexInput, "_HalfData.dat", Entry::kSparse, 0);
  put(import, kImportInput, "_SievedListData.dat", Entry::kSparse);
  put(KV_CONVERT_EXE, "2\n\n", "_APData.dat", Entry::kSparse);
  put(KV_REPORT_EXE, "", "_SievedListData.dat", Entry::kSparse);
  // Journals that cannot be followed.
  const auto journalCase = [&](std::string what, auto edit) {
    cases.push_back({"journal " + what, kolvex, kKolvexInput, Journal(edit), 2, kJournalFile});
  };
  journalCase("without its end line",
              [](std::string t, const Dirs&) { return t.substr(0, t.size() - 4); });
  journalCase("without its last LF",
              [](std::string t, const Dirs&) { return t.substr(0, t.size() - 1); });
  journalCase("with CR LF", [](std::string t, const Dirs&) { return Replaced(t, "\n", "\r\n"); });
  journalCase("with a line of another form",
              [](std::string t, const Dirs&) { return Replaced(t, "end\n", "note 1\nend\n"); });
  journalCase("naming a file outside by its full path", [](std::string t, const Dirs& d) {
    return Replaced(t, "file -1 - _ContData.dat", "file 0 - " + d.victim().string());
  });
  journalCase("naming a file outside by ..", [](std::string t, const Dirs&) {
    return Replaced(t, "file -1 - _ContData.dat", "file 0 - ../outside/victim.txt");
  });
  journalCase("naming the table of another folder", [](std::string t, const Dirs&) {
    return Replaced(t, "table 16 _APData.dat", "table 16 ../outside/victim.txt");
  });
  journalCase("of Kolvex32's run on a table not converted", [](std::string t, const Dirs&) {
    const std::string narrow = FreshTable<Width32>(PrimesBelow(100));
    t = Replaced(t, "table 16 _APData.dat\nhalf _HalfData.dat",
                 "table 12 _APData32.dat\nhalf _HalfData32.dat");
    const size_t point = t.find("point ");
    const size_t end = t.find(" -1 0 0", point);
    return t.substr(0, point) + "point " + Hex(narrow.substr(0, 12)) + " " +
           std::to_string(narrow.size()) + t.substr(end);
  });
  // The user's own file of new numbers may be a link to anywhere: it is read, not refused.
  cases.push_back({"the user's input file as a link out", kolvex, "in.txt\n3\n\n",
                   [](const Dirs& d) { fs::create_symlink(d.victim(), d.work / "in.txt"); }, 0,
                   " [ms] : AddData"});
  // A well-formed journal of a point that the files do not show (as one left by a stop between
  // a run's last rename and the journal's removal) is no reason to stop.
  cases.push_back(
      {"journal of no point the files show", kolvex, kKolvexInput,
       Journal([](std::string t, const Dirs&) { return Replaced(t, " -1 0 0", " -1 1 0"); }), 0,
       ""});
  cases.push_back({"journal that cannot be read", kolvex, kKolvexInput,
                   [](const Dirs& d) {
                     Journal([](std::string t, const Dirs&) { return t; })(d);
                     Unreadable(kJournalFile)(d);
                   },
                   2, kJournalFile, true});
  // The sieved list: unreadable, out of order, out of its range.
  for (const auto& [exe, input] :
       {std::pair{kolvex, kKolvexInput}, std::pair{import, kImportInput}}) {
    const std::string who = exe == kolvex ? "Kolvex, " : "kvimport, ";
    cases.push_back({who + "list that cannot be read", exe, input,
                     Unreadable("_SievedListData.dat"), 2, "_SievedListData.dat", true});
    cases.push_back({who + "list with an entry out of order", exe, input,
                     Content("_SievedListData.dat",
                             [](const Dirs&) {
                               return ListOf<Width64>(200, 400, {5, 212});
                             }),
                     2, "_SievedListData.dat"});
    cases.push_back({who + "list with an entry outside its range", exe, input,
                     Content("_SievedListData.dat",
                             [](const Dirs&) {
                               return ListOf<Width64>(200, 400, {2, 199});
                             }),
                     2, "_SievedListData.dat"});
  }
  cases.push_back({"Kolvex32, list with an entry out of order", KV_KOLVEX32_EXE, kKolvexInput,
                   Content("_SievedListData32.dat",
                           [](const Dirs&) {
                             return ListOf<Width32>(200, 400, {7, 230});
                           }),
                   2, "_SievedListData32.dat"});
  return cases;
}

TEST(HostileDirectory, EveryCaseEndsInTimeWithItsStatusAndChangesNothingItMustNot) {
  const bool root = ::geteuid() == 0;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    // Root reads every file: such a case runs as the user nobody, or not at all.
    const bool dropRoot = c.needsNonRoot && root;
    if (dropRoot && !fs::exists(kSetpriv)) {
      std::cout << "[ SKIPPED ] " << c.what << ": root reads every file, and no " << kSetpriv
                << "\n";
      continue;
    }
    kvtest::TempDir top;
    const Dirs d{top.path() / "work", top.path() / "outside"};
    fs::create_directories(d.work);
    fs::create_directories(d.outside);
    kvtest::WriteFiles(d.outside, {{"victim.txt", "not to be touched\n"}});
    kvtest::WriteFiles(d.work, {{"_APData.dat", FreshTable<Width64>(PrimesBelow(200))},
                                {"_SievedListData.dat", ListOf<Width64>(200, 400)},
                                {"_APData32.dat", FreshTable<Width32>(PrimesBelow(200))},
                                {"_SievedListData32.dat", ListOf<Width32>(200, 400)}});
    // kvreport reads the build whose table was written last: the 64-bit one, whatever the
    // clock's grain made of the two writes.
    fs::last_write_time(d.work / "_APData32.dat",
                        fs::last_write_time(d.work / "_APData.dat") - std::chrono::hours(1));
    c.plant(d);
    const auto outsideBefore = Snapshot(d.outside, true);
    const auto insideBefore = Snapshot(d.work);
    const fs::path console = top.path() / "console.txt";
    std::string program = fs::absolute(c.exe).string();
    std::vector<std::string> arguments;
    if (dropRoot) {
      for (const auto& entry : fs::recursive_directory_iterator(top.path())) {
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
      }
      ASSERT_EQ(::chown(top.path().c_str(), kNobody, kNobody), 0);
      arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
      program = kSetpriv;
    }
    const int status = kvtest::RunProgram(program, arguments, d.work.string(), c.input,
                                          console.string(), kTimeLimit);
    EXPECT_EQ(status, c.status) << (status == kvtest::kHang ? "hung" : "");
    EXPECT_TRUE(Snapshot(d.outside, true) == outsideBefore) << "a file outside changed";
    // A refused run may leave its own journal, but every file that was there stays as it was.
    const auto insideAfter = Snapshot(d.work);
    for (const auto& [name, content] : insideBefore) {
      const auto after = insideAfter.find(name);
      EXPECT_TRUE(c.status == 0 || (after != insideAfter.end() && after->second == content))
          << name << " lost or changed";
    }
    std::ifstream in(console, std::ios::binary);
    std::ostringstream output;
    output << in.rdbuf();
    EXPECT_NE(output.str().find(c.named), std::string::npos) << "not named: " << c.named;
    // The folder is left removable whatever the case did to its permissions.
    for (const auto& entry : fs::directory_iterator(d.work)) {
      if (!entry.is_symlink())
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    }
  }
}

}  // namespace
}  // namespace kv
