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

#include "search/filenames.h"
#include "tests/process.h"
#include "tests/table_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using kvtest::FreshTable;
using kvtest::SievedFile;

constexpr int kTimeLimit = 20;  // seconds; the cases take well under one
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr uid_t kNobody = 65534;

std::vector<uint64_t> PrimesBelow(uint64_t n) {
  std::vector<uint64_t> primes;
  for (uint64_t v = 2; v < n; ++v) {
    bool prime = true;
    for (uint64_t d = 2; d * d <= v && prime; ++d) prime = v % d != 0;
    if (prime) primes.push_back(v);
  }
  return primes;
}

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

// The regular files of a directory (links and other entries left out); a large one by its size.
std::map<std::string, std::string> Regular(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const auto size = entry.file_size();
    if (size > (1u << 20)) {
      files[entry.path().filename().string()] = "size " + std::to_string(size);
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    files[entry.path().filename().string()] = content.str();
  }
  return files;
}

std::map<std::string, std::string> Everything(const fs::path& dir) {
  std::map<std::string, std::string> files = Regular(dir);
  for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()];
  return files;
}

struct Dirs {
  fs::path work;
  fs::path outside;  // holds victim.txt, the target of every link and outside name
  fs::path victim() const { return outside / "victim.txt"; }
};

using Plant = std::function<void(const Dirs&)>;

void Replace(const fs::path& path) { fs::remove_all(path); }

Plant LinkOut(std::string name) {
  return [name](const Dirs& d) {
    Replace(d.work / name);
    fs::create_symlink(d.victim(), d.work / name);
  };
}
Plant Fifo(std::string name) {
  return [name](const Dirs& d) {
    Replace(d.work / name);
    ASSERT_EQ(::mkfifo((d.work / name).c_str(), 0644), 0);
  };
}
Plant Folder(std::string name) {
  return [name](const Dirs& d) {
    Replace(d.work / name);
    fs::create_directory(d.work / name);
  };
}
// A sparse file of 100 GB, beginning with `head`.
Plant Sparse(std::string name, std::string head = {}) {
  return [name, head](const Dirs& d) {
    Replace(d.work / name);
    std::ofstream(d.work / name, std::ios::binary) << head;
    fs::resize_file(d.work / name, uint64_t{100} << 30);
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
  // Every state and work file of the search as a link out, a FIFO and a folder.
  for (const char* name :
       {"_APData.dat", "_HalfData.dat", "_SievedListData.dat", "__JOURNAL___Kolvex.dat",
        "_ContData.dat", "_L3_ResultData.txt", "_NOTAddData.txt", "__TEMP___APData.dat",
        "__TEMP___OLD___APData.dat", "__OLD___APData.dat", "__TEMP___SievedListData.dat",
        "__TEMP___JOURNAL___Kolvex.dat", "__TEMP___ContData_txt.dat"}) {
    cases.push_back(
        {std::string(name) + " as a link out", kolvex, kKolvexInput, LinkOut(name), 2, name});
    cases.push_back({std::string(name) + " as a FIFO", kolvex, kKolvexInput, Fifo(name), 2, name});
    cases.push_back(
        {std::string(name) + " as a folder", kolvex, kKolvexInput, Folder(name), 2, name});
  }
  const std::string import = KV_IMPORT_EXE;
  for (const char* name : {"_SievedListData.dat", "__TEMP___SievedListData.dat"}) {
    cases.push_back({std::string("kvimport, ") + name + " as a link out", import, kImportInput,
                     LinkOut(name), 2, name});
    cases.push_back({std::string("kvimport, ") + name + " as a FIFO", import, kImportInput,
                     Fifo(name), 2, name});
  }
  cases.push_back({"kvconvert, _APData32.dat as a link out", KV_CONVERT_EXE, "2\n\n",
                   LinkOut("_APData32.dat"), 2, "_APData32.dat"});
  cases.push_back({"kvreport, the list as a FIFO", KV_REPORT_EXE, "", Fifo("_SievedListData.dat"),
                   2, "_SievedListData.dat"});
  // Files of 100 GB: nothing may be believed of their size.
  cases.push_back({"100 GB journal", kolvex, kKolvexInput, Sparse(kJournalFile), 2, kJournalFile});
  cases.push_back({"100 GB table", kolvex, kKolvexInput, Sparse("_APData.dat"), 2, "_APData.dat"});
  cases.push_back({"100 GB list", kolvex, kKolvexInput, Sparse("_SievedListData.dat"), 2,
                   "_SievedListData.dat"});
  cases.push_back({"100 GB checkpoint (not of this table: not used)", kolvex, kKolvexInput,
                   Sparse("_HalfData.dat"), 0, ""});
  cases.push_back({"kvimport, 100 GB list", import, kImportInput, Sparse("_SievedListData.dat"), 2,
                   "_SievedListData.dat"});
  cases.push_back({"kvconvert, 100 GB table", KV_CONVERT_EXE, "2\n\n", Sparse("_APData.dat"), 2,
                   "_APData.dat"});
  cases.push_back({"kvreport, 100 GB list", KV_REPORT_EXE, "", Sparse("_SievedListData.dat"), 2,
                   "_SievedListData.dat"});
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
    c.plant(d);
    const auto outsideBefore = Everything(d.outside);
    const auto insideBefore = Regular(d.work);
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
    EXPECT_TRUE(Everything(d.outside) == outsideBefore) << "a file outside changed";
    // A refused run may leave its own journal, but every file that was there stays as it was.
    const auto insideAfter = Regular(d.work);
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
