// Appends to the text files after a stop of the program cut a write short.
#include <gtest/gtest.h>

#include "search/phases.h"
#include "tests/harness.h"

namespace kv {
namespace {

using kvtest::Files;

TEST(AppendToTextFile, LineCutShortByAStopIsDroppedBeforeTheNextAppend) {
  const auto run = kvtest::RunInProcess(
      [] {
        AppendToTextFile("a.txt", "Len 3, 5 + 6 *n", true);
        AppendToTextFile("b.txt", "Len 3, 5 + 6 *n\r\n", false);
        AppendToTextFile("c.txt", "n=0,1, ... ,Len-1", true);
        AppendToTextFile("d.txt", "x", true);
      },
      {},
      {{"a.txt", "n=0,1, ... ,Len-1\r\nLen 3, 3 + 2 *n\r\nLen 3"},
       {"b.txt", "Len 4"},
       {"d.txt", "kept\r\n"}});
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.files,
            (Files{{"a.txt", "n=0,1, ... ,Len-1\r\nLen 3, 3 + 2 *n\r\nLen 3, 5 + 6 *n\r\n"},
                   {"b.txt", "Len 3, 5 + 6 *n\r\n"},
                   {"c.txt", "n=0,1, ... ,Len-1\r\n"},
                   {"d.txt", "kept\r\nx\r\n"}}));
}

}  // namespace
}  // namespace kv
