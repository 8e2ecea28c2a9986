// kvconvert's dialogue and conversions between the 64-bit and the 32-bit table records.
#include "convert/convert.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "console/console.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "search/width.h"

namespace kv {
namespace {

// The output is built and appended this many records at a time, so that its buffer stays small
// whatever the size of the table.
constexpr int64_t kChunkRecords = 100000;

// A record is the value followed by the two signed 32-bit cursors.
template <typename W>
constexpr size_t kRecordSize = sizeof(typename W::Value) + 8;

struct FilePair {
  const char* normal;
  const char* narrow;
};
constexpr FilePair kPairs[] = {
    {"_APData.dat", "_APData32.dat"},
    {"__OLD___APData.dat", "__OLD___APData32.dat"},
    {"_HalfData.dat", "_HalfData32.dat"},
};

[[noreturn]] void WriteFailed(const std::string& temp, const std::string& destination) {
  const FileError reason = LastFileError();
  Os().Remove(temp);
  NoteFileError(reason);
  PrintLine("書き込みエラー発生。やり直してください。");
  PrintFileError(destination);
  EndRun(kFailed);
}

// Appends one chunk to the work file; the last one is also forced to disk before the rename.
bool AppendChunk(const std::string& temp, const std::string& chunk, bool last) {
  auto file = Os().OpenAppend(temp);
  if (!file) return false;
  bool ok = file->SeekEnd();
  ok = ok && file->Write(chunk.data(), static_cast<int64_t>(chunk.size()));
  if (last) ok = ok && file->Sync();
  return file->Close() && ok;
}

// Returns 0 when converted, 1 when the source is missing or holds no whole record.
template <typename From, typename To>
int16_t ConvertFile(const std::string& source, const std::string& destination) {
  constexpr size_t kIn = kRecordSize<From>;
  constexpr size_t kOut = kRecordSize<To>;
  using InValue = typename From::Value;
  using OutValue = typename To::Value;

  auto file = Os().OpenRead(source);
  if (!file) return 1;
  const int64_t size = file->Size();
  const int64_t bytes = size < 0 ? 0 : size - size % static_cast<int64_t>(kIn);
  std::string data(static_cast<size_t>(std::max<int64_t>(bytes, 0)), '\0');
  const bool read = size >= 0 && ReadExactly(*file, data.data(), bytes);
  file->Close();
  if (!read) {
    // A partly read table would be converted into a shorter, valid-looking one.
    PrintLine("読み込みエラー発生。やり直してください。");
    PrintFileError(source);
    EndRun(kFailed);
  }
  if (bytes == 0) return 1;
  const auto records = bytes / static_cast<int64_t>(kIn);
  const auto* in = reinterpret_cast<const unsigned char*>(data.data());

  if constexpr (sizeof(OutValue) < sizeof(InValue)) {
    // Every value, not only the header's: a header that lags behind its records would
    // otherwise let larger values wrap silently.
    for (int64_t r = 0; r < records; ++r) {
      if (LoadLE<InValue>(in + static_cast<size_t>(r) * kIn) > To::kLimit) {
        PrintLine("データが大きすぎます。32bit版への以降は出来ませんでした。");
        EndRun(kFailed);
      }
    }
  }

  // The destination is replaced only once its new content is complete on disk. The work file
  // is named like the search program's ("_APData.dat" is written through "__TEMP___APData.dat").
  const std::string temp = "__TEMP___" + destination.substr(1);
  Os().Remove(temp);
  std::string chunk;
  for (int64_t first = 0; first < records; first += kChunkRecords) {
    const int64_t count = std::min(kChunkRecords, records - first);
    chunk.assign(static_cast<size_t>(count) * kOut, '\0');
    auto* out = reinterpret_cast<unsigned char*>(chunk.data());
    for (int64_t i = 0; i < count; ++i) {
      const unsigned char* rec = in + static_cast<size_t>(first + i) * kIn;
      unsigned char* dst = out + static_cast<size_t>(i) * kOut;
      StoreLE(dst, static_cast<OutValue>(LoadLE<InValue>(rec)));
      std::copy(rec + sizeof(InValue), rec + kIn, dst + sizeof(OutValue));
    }
    if (!AppendChunk(temp, chunk, first + count == records)) WriteFailed(temp, destination);
  }
  if (!Os().Rename(temp, destination)) WriteFailed(temp, destination);
  return 0;
}

// Returns true when at least one file was converted.
template <typename From, typename To>
bool ConvertAll() {
  bool converted = false;
  for (const FilePair& pair : kPairs) {
    const std::string source = sizeof(typename From::Value) == 8 ? pair.normal : pair.narrow;
    const std::string destination = sizeof(typename To::Value) == 8 ? pair.normal : pair.narrow;
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
