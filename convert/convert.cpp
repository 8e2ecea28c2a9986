// kvconvert's dialogue and conversions between the 64-bit and the 32-bit table records.
#include "convert/convert.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/worklock.h"
#include "format/records.h"
#include "platform/fileutil.h"
#include "platform/platform.h"

namespace kv {
namespace {

// The table files of a width, in the order they are converted; a file of one width goes to the
// file at the same place of the other.
template <typename W>
constexpr std::array<const char*, 3> kTableFiles = {W::kTableFile, W::kOldTableFile, W::kHalfFile};

// Returns 0 when converted, 1 when the source is missing or holds no whole record.
template <typename From, typename To>
int16_t ConvertFile(const std::string& source, const std::string& destination) {
  using OutValue = typename To::Value;

  auto file = Os().OpenRead(source);
  if (!file) return 1;
  const int64_t size = file->Size();
  const int64_t records = size < 0 ? 0 : size / kRecordBytes<From>;
  // A table holds at most 2^31 - 1 records (its cursors are 32-bit indices).
  std::vector<TableRecord<From>> in;
  const bool read = size >= 0 &&
                    (records <= std::numeric_limits<int32_t>::max() || NoteTooLarge()) &&
                    ResizeFromFile(in, records) && ReadRecordsAt(*file, 0, records, in.data());
  file->Close();
  if (!read) {
    // A partly read table would be converted into a shorter, valid-looking one.
    PrintLine("読み込みエラー発生。やり直してください。");
    PrintFileError(source);
    EndRun(kFailed);
  }
  if (records == 0) return 1;

  if constexpr (sizeof(OutValue) < sizeof(typename From::Value)) {
    // Every value, not only the header's: a header that lags behind its records would
    // otherwise let larger values wrap silently.
    for (const TableRecord<From>& r : in) {
      if (r.value > To::kLimit) {
        PrintLine("データが大きすぎます。32bit版への以降は出来ませんでした。");
        EndRun(kFailed);
      }
    }
  }

  // The destination is replaced only once its new content is complete on disk. The work file
  // is named like the search program's ("_APData.dat" is written through "__TEMP___APData.dat").
  ReplacementFile out(destination, "__TEMP___" + destination.substr(1));
  const bool written =
      WriteItems(out, records, kRecordBytes<To>, [&in](unsigned char* p, int64_t i) {
        const TableRecord<From>& r = in[static_cast<size_t>(i)];
        EncodeRecord<To>(p, {static_cast<OutValue>(r.value), r.lowerCursor, r.upperCursor});
      });
  if (!written || !out.Commit()) {
    PrintLine("書き込みエラー発生。やり直してください。");
    PrintFileError(destination);
    EndRun(kFailed);
  }
  return 0;
}

// Returns true when at least one file was converted.
template <typename From, typename To>
bool ConvertAll() {
  for (size_t i = 0; i < kTableFiles<From>.size(); ++i) {
    const std::string destination = kTableFiles<To>[i];
    RefuseSpecialFiles({kTableFiles<From>[i], destination, "__TEMP___" + destination.substr(1)});
  }
  bool converted = false;
  for (size_t i = 0; i < kTableFiles<From>.size(); ++i) {
    const std::string source = kTableFiles<From>[i];
    const std::string destination = kTableFiles<To>[i];
    if (ConvertFile<From, To>(source, destination) == 1) {
      PrintLine(source + " " + "は見付かりませんでした。スキップします。");
    } else {
      converted = true;
    }
  }
  return converted;
}

}  // namespace

void RunConvertProgram() {
  PrintLine("Kolvex ver 0.13～20用 データ変換プログラム");
  PrintLine("");
  PrintLine("Kolvex 通常版と32bit版のデータを入れ替えます。");
  PrintLine("変換先のファイルが既に存在している場合、上書きされます。ご注意ください。");
  PrintLine("");
  // One program at a time in the working directory, for the whole run (console/worklock.h).
  const auto hold = HoldWorkingDirectory("kvconvert");
  PrintLine("希望の処理を以下から選んで番号(1,2)を入力し、Enterを押して下さい。");
  PrintLine("");
  PrintLine("1   32bit版(ファイル名末尾に32) から 通常版へ");
  std::string answer;
  InputItems(kConvertMenuPrompt, {&answer});
  bool converted = false;
  if (TextEquals(answer, "1")) {
    converted = ConvertAll<Width32, Width64>();
  } else if (TextEquals(answer, "2")) {
    converted = ConvertAll<Width64, Width32>();
  } else {
    EndRun(kNoWork);
  }
  PrintLine("");
  PrintLine("元のファイルは手動にて削除願います。");
  EndRun(converted ? kDone : kNoWork);
}

}  // namespace kv
