#include "format/records.h"

#include "console/numtext.h"

namespace kv {

std::vector<std::string> TableFaultLines(const std::string& file, TableFault fault, int32_t index) {
  std::vector<std::string> lines{file + " の内容が壊れているため使用できません。"};
  const std::string where = "レコード番号 " + RealToText(index) + " : ";
  switch (fault) {
    case TableFault::kOrder:
      lines.push_back(where + "データが昇順に並んでいません。");
      break;
    case TableFault::kRange:
      lines.push_back(where + "データが使用可能範囲を超えています。");
      break;
    case TableFault::kCursor:
      lines.push_back(where + "探索位置がデータの範囲外です。");
      break;
    default:
      lines.push_back("先頭レコードのデータ数・最大値がデータと一致しません。");
      break;
  }
  lines.push_back("ファイルを確認してから再度実行して下さい。");
  return lines;
}

}  // namespace kv
