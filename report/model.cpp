// The problem tally and the --csv output.
#include "report/model.h"

#include "console/numtext.h"

namespace kv {

void Problems::Add(Problem p, const std::string& example) {
  const auto k = static_cast<size_t>(p);
  ++count[k];
  if (examples[k].size() < kExamples && !example.empty()) examples[k].push_back(example);
}

int64_t Problems::Total() const {
  int64_t total = 0;
  for (const int64_t c : count) total += c;
  return total;
}

bool CsvWriter::Open(const std::string& name) {
  file_ = Os().CreateUserFile(name);
  if (file_) Append("length,first,difference,last,state\r\n");
  return file_ != nullptr;
}

std::string CsvWriter::RowText(int64_t length, uint64_t first, uint64_t difference,
                               const char* state) {
  const uint64_t last = first + static_cast<uint64_t>(length - 1) * difference;
  return IntegerToText(static_cast<uint64_t>(length)) + "," + IntegerToText(first) + "," +
         IntegerToText(difference) + "," + IntegerToText(last) + "," + state + "\r\n";
}

void CsvWriter::Row(int64_t length, uint64_t first, uint64_t difference, const char* state) {
  Append(RowText(length, first, difference, state));
}

void CsvWriter::Append(const std::string& rows) {
  if (!file_) return;
  held_ += rows;
  if (held_.size() >= (size_t{1} << 20)) Flush();
}

void CsvWriter::Flush() {
  ok_ = file_->Write(held_.data(), static_cast<int64_t>(held_.size())) && ok_;
  held_.clear();
}

bool CsvWriter::Close() {
  if (!file_) return true;
  Flush();
  ok_ = file_->Close() && ok_;
  file_.reset();
  return ok_;
}

}  // namespace kv
