// Splits standard input into lines the same way on every system: a line is the bytes up to the
// next LF, without the LF and one CR before it; a last line without LF is still a line.
#pragma once

#include <string>

namespace kv {

class LineReader {
 public:
  // `read(chunk)` fills `chunk` with the next bytes of input; false at the end of input.
  // Returns false, with an empty line, once the input has ended.
  template <typename Read>
  bool Next(std::string& line, Read&& read) {
    line.clear();
    for (;;) {
      if (pos_ < buffer_.size()) {
        const size_t lf = buffer_.find('\n', pos_);
        if (lf != std::string::npos) {
          line.append(buffer_, pos_, lf - pos_);
          pos_ = lf + 1;
          if (!line.empty() && line.back() == '\r') line.pop_back();
          return true;
        }
        line.append(buffer_, pos_, std::string::npos);
        pos_ = buffer_.size();
      }
      if (eof_ || !read(buffer_)) {
        eof_ = true;
        break;
      }
      pos_ = 0;
    }
    if (line.empty()) return false;
    if (line.back() == '\r') line.pop_back();
    return true;
  }

 private:
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace kv
