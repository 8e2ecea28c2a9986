// The page is built as text: each chart is an SVG drawing of its own, every mark of it carrying
// its value in data attributes and a title (what a pointer shows), so that what is drawn can be
// read back from the page. Texts are code page 932, as the page declares.
#include "report/html.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "console/numtext.h"

namespace kv {
namespace {

constexpr double kWidth = 760;
constexpr double kHeight = 320;
constexpr double kLeft = 80;
constexpr double kRight = 44;
constexpr double kTop = 40;
constexpr double kBottom = 56;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Num(double v) {
  // Coordinates to a tenth of a pixel.
  return RealToText(std::round(v * 10) / 10);
}
std::string Int(uint64_t v) { return IntegerToText(v); }

// The vertical scale: linear from 0, or logarithmic over whole decades; 0 and below sit on the
// axis.
class Scale {
 public:
  static constexpr double kLift = 4;
  Scale(double largest, double smallestPositive, bool logarithmic) : log_(logarithmic) {
    if (log_) {
      low_ = std::floor(std::log10(smallestPositive > 0 ? smallestPositive : 1));
      high_ = std::max(low_ + 1, std::ceil(std::log10(std::max(largest, 1.0)) + 1e-9));
    } else {
      low_ = 0;
      high_ = NiceAbove(largest);
    }
  }
  // Distance above the axis, in pixels; on the logarithmic scale the lowest decade stands a few
  // pixels above the axis, so that a count of 1 is seen.
  double Height(double v) const {
    if (log_) {
      if (v <= 0) return 0;
      return kLift + std::max(0.0, (std::log10(v) - low_) / (high_ - low_) * (kPlotHeight - kLift));
    }
    return v / high_ * kPlotHeight;
  }
  bool Logarithmic() const { return log_; }
  std::vector<double> Ticks() const {
    std::vector<double> ticks;
    if (log_) {
      const double step = std::ceil((high_ - low_) / 8);
      for (double e = low_; e <= high_ + 1e-9; e += step) ticks.push_back(std::pow(10.0, e));
    } else {
      for (int k = 0; k <= 5; ++k) ticks.push_back(high_ * k / 5);
    }
    return ticks;
  }

 private:
  static double NiceAbove(double v) {
    if (v <= 0) return 1;
    const double unit = std::pow(10.0, std::floor(std::log10(v)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
      if (m * unit >= v) return m * unit;
    }
    return 10 * unit;
  }
  bool log_;
  double low_ = 0;
  double high_ = 1;
};

// Decades on a logarithmic scale as powers of ten from 10^5 on.
std::string TickText(double v, bool logarithmic) {
  if (logarithmic && v >= 1e5) {
    return "10^" + Int(static_cast<uint64_t>(std::lround(std::log10(v))));
  }
  return RealToText(v);
}

struct Series {
  std::string name;
  const char* color;
  // By category (bar charts) or as x, y pairs (line charts); a missing value draws nothing.
  std::vector<std::optional<double>> values;
  std::vector<std::pair<double, double>> points;
};

double Y(const Scale& s, double v) { return kTop + kPlotHeight - s.Height(v); }

void Range(const std::vector<Series>& series, double& largest, double& smallest) {
  largest = 0;
  smallest = 0;
  auto take = [&](double v) {
    largest = std::max(largest, v);
    if (v > 0 && (smallest == 0 || v < smallest)) smallest = v;
  };
  for (const Series& s : series) {
    for (const auto& v : s.values) {
      if (v) take(*v);
    }
    for (const auto& p : s.points) take(p.second);
  }
}

std::string Frame(const std::string& id, const std::string& yTitle, const Scale& scale,
                  const std::vector<Series>& series) {
  std::string svg = "<svg id=\"" + id + "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" " +
                    "width=\"" + Num(kWidth) + "\" height=\"" + Num(kHeight) + "\" viewBox=\"0 0 " +
                    Num(kWidth) + " " + Num(kHeight) + "\">\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Num(kWidth) + "\" height=\"" + Num(kHeight) +
         "\" fill=\"#ffffff\"/>\n";
  for (const double t : scale.Ticks()) {
    const std::string y = Num(Y(scale, t));
    svg += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + kPlotWidth) + "\" y1=\"" + y +
           "\" y2=\"" + y + "\" stroke=\"#dddddd\"/>";
    svg += "<text x=\"" + Num(kLeft - 6) + "\" y=\"" + y +
           "\" text-anchor=\"end\" dominant-baseline=\"middle\">" +
           TickText(t, scale.Logarithmic()) + "</text>\n";
  }
  svg += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft) + "\" y1=\"" + Num(kTop) +
         "\" y2=\"" + Num(kTop + kPlotHeight) + "\" stroke=\"#000000\"/>";
  svg += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + kPlotWidth) + "\" y1=\"" +
         Num(kTop + kPlotHeight) + "\" y2=\"" + Num(kTop + kPlotHeight) +
         "\" stroke=\"#000000\"/>\n";
  svg += "<text x=\"" + Num(kLeft) + "\" y=\"20\">" + Escape(yTitle) + "</text>\n";
  double x = kLeft + kPlotWidth;
  for (size_t k = series.size(); k-- > 0;) {
    x -= 12 + 13 * static_cast<double>(series[k].name.size() / 2) + 8;
    svg += "<rect x=\"" + Num(x) + "\" y=\"10\" width=\"10\" height=\"10\" fill=\"" +
           series[k].color + "\"/><text x=\"" + Num(x + 14) + "\" y=\"19\">" +
           Escape(series[k].name) + "</text>\n";
  }
  return svg;
}

// Bars side by side per category.
std::string BarChart(const std::string& id, const std::string& yTitle,
                     const std::vector<std::string>& categories, const std::vector<Series>& series,
                     bool logarithmic) {
  double largest = 0;
  double smallest = 0;
  Range(series, largest, smallest);
  const Scale scale(largest, smallest, logarithmic);
  std::string svg = Frame(id, yTitle, scale, series);
  const double slot = kPlotWidth / static_cast<double>(std::max<size_t>(categories.size(), 1));
  const double bar = slot * 0.8 / static_cast<double>(std::max<size_t>(series.size(), 1));
  for (size_t c = 0; c < categories.size(); ++c) {
    const double x0 = kLeft + slot * static_cast<double>(c);
    svg += "<text x=\"" + Num(x0 + slot / 2) + "\" y=\"" + Num(kTop + kPlotHeight + 16) +
           "\" text-anchor=\"middle\">" + Escape(categories[c]) + "</text>\n";
    for (size_t s = 0; s < series.size(); ++s) {
      if (c >= series[s].values.size() || !series[s].values[c]) continue;
      const double v = *series[s].values[c];
      const double h = scale.Height(v);
      svg += "<rect class=\"mark\" data-series=\"" + Escape(series[s].name) + "\" data-x=\"" +
             Escape(categories[c]) + "\" data-y=\"" + RealToText(v) + "\" x=\"" +
             Num(x0 + slot * 0.1 + bar * static_cast<double>(s)) + "\" y=\"" +
             Num(kTop + kPlotHeight - h) + "\" width=\"" + Num(bar) + "\" height=\"" + Num(h) +
             "\" fill=\"" + series[s].color + "\"><title>" + Escape(series[s].name) + " " +
             Escape(categories[c]) + ": " + RealToText(v) + "</title></rect>\n";
    }
  }
  return svg + "</svg>\n";
}

// Points joined by lines over a linear horizontal scale from 0.
std::string LineChart(const std::string& id, const std::string& xTitle, const std::string& yTitle,
                      const std::vector<Series>& series, bool logarithmic) {
  double largest = 0;
  double smallest = 0;
  Range(series, largest, smallest);
  const Scale scale(largest, smallest, logarithmic);
  double right = 0;
  for (const Series& s : series) {
    for (const auto& p : s.points) right = std::max(right, p.first);
  }
  const Scale across(right, 0, false);
  const auto X = [&](double v) { return kLeft + across.Height(v) / kPlotHeight * kPlotWidth; };
  std::string svg = Frame(id, yTitle, scale, series);
  for (const double t : across.Ticks()) {
    svg += "<text x=\"" + Num(X(t)) + "\" y=\"" + Num(kTop + kPlotHeight + 16) +
           "\" text-anchor=\"middle\">" + TickText(t, false) + "</text>";
  }
  svg += "<text x=\"" + Num(kLeft + kPlotWidth / 2) + "\" y=\"" + Num(kHeight - 10) +
         "\" text-anchor=\"middle\">" + Escape(xTitle) + "</text>\n";
  for (const Series& s : series) {
    std::string path;
    for (const auto& [x, y] : s.points) path += Num(X(x)) + "," + Num(Y(scale, y)) + " ";
    if (s.points.size() > 1) {
      svg += "<polyline fill=\"none\" stroke=\"" + std::string(s.color) + "\" points=\"" + path +
             "\"/>\n";
    }
    for (const auto& [x, y] : s.points) {
      svg += "<circle class=\"mark\" data-series=\"" + Escape(s.name) + "\" data-x=\"" +
             RealToText(x) + "\" data-y=\"" + RealToText(y) + "\" cx=\"" + Num(X(x)) + "\" cy=\"" +
             Num(Y(scale, y)) + "\" r=\"3.5\" fill=\"" + s.color + "\"><title>" + Escape(s.name) +
             " (" + RealToText(x) + "): " + RealToText(y) + "</title></circle>\n";
    }
  }
  return svg + "</svg>\n";
}

std::string VerdictCell(LiteratureRow::Verdict v) {
  const char* cls = v == LiteratureRow::Verdict::kMatch      ? "match"
                    : v == LiteratureRow::Verdict::kMismatch ? "mismatch"
                                                             : "unknown";
  return "<td class=\"" + std::string(cls) + "\">" + VerdictText(v) + "</td>";
}

std::string Lengths(const PageFacts& f) {
  std::map<int64_t, size_t> index;
  for (const auto& [k, n] : f.finished) index[k];
  for (const auto& [k, n] : f.open) index[k];
  for (const LiteratureRow& r : f.literature.counts) {
    if (r.bound == 0) index[r.length];
  }
  std::vector<std::string> categories;
  for (auto& [k, at] : index) {
    at = categories.size();
    categories.push_back(Int(static_cast<uint64_t>(k)));
  }
  std::vector<Series> series = {{"完了した極大な数列", "#1f77b4", {}, {}},
                                {"継続中の極大な数列", "#ff7f0e", {}, {}},
                                {"全ての数列 (部分を含む)", "#2ca02c", {}, {}}};
  for (Series& s : series) s.values.resize(categories.size());
  for (const auto& [k, n] : f.finished) series[0].values[index[k]] = static_cast<double>(n);
  for (const auto& [k, n] : f.open) series[1].values[index[k]] = static_cast<double>(n);
  for (const LiteratureRow& r : f.literature.counts) {
    if (r.bound == 0) series[2].values[index[r.length]] = static_cast<double>(r.found);
  }
  const std::string from =
      f.literature.minLength > 0
          ? " (長さ " + Int(static_cast<uint64_t>(f.literature.minLength)) + " 以上)"
          : std::string();
  return "<h2>長さ毎の数列数</h2>\n<p>縦軸は対数目盛です。極大な数列は前後に延ばせない数列を"
         "その長さで一度数え、全ての数列は長い数列の中の数列も数えます" +
         from + "。</p>\n" + BarChart("chart-lengths", "数列数", categories, series, true);
}

std::string Least(const PageFacts& f) {
  std::string html =
      "<h2>長さ毎の最小の最終項と文献の値</h2>\n<p>縦軸は対数目盛です。長い数列の先頭部分を含み"
      "ます。文献の値は OEIS A005115 です。</p>\n";
  std::vector<std::string> categories;
  std::vector<Series> series = {{"最小の最終項", "#1f77b4", {}, {}},
                                {"文献の値 (A005115)", "#d62728", {}, {}}};
  std::string rows;
  for (const LiteratureRow& r : f.literature.least) {
    categories.push_back(Int(static_cast<uint64_t>(r.length)));
    series[0].values.push_back(r.hasFound ? std::optional<double>(static_cast<double>(r.found))
                                          : std::nullopt);
    series[1].values.push_back(
        r.hasPublished ? std::optional<double>(static_cast<double>(r.published)) : std::nullopt);
    rows += "<tr><td>" + Int(static_cast<uint64_t>(r.length)) + "</td><td>" +
            (r.hasFound ? Int(r.found) : "-") + "</td><td>" +
            (r.hasPublished ? Int(r.published) : "-") + "</td>" + VerdictCell(r.verdict) +
            "</tr>\n";
  }
  html += BarChart("chart-least", "最終項", categories, series, true);
  return html + "<table><tr><th>長さ</th><th>最小の最終項</th><th>文献の値</th><th></th></tr>\n" +
         rows + "</table>\n";
}

std::string Counts(const PageFacts& f) {
  std::string html =
      "<h2>数列数と文献の値</h2>\n<p>10^n 未満の素数が全てデータに有る範囲で、長い数列の中の数列も"
      "数えた数を OEIS A115608-A115613 と比べます。縦軸は対数目盛です。</p>\n";
  std::vector<std::string> categories;
  std::vector<Series> series = {{"数列数", "#1f77b4", {}, {}}, {"文献の値", "#d62728", {}, {}}};
  std::string rows;
  for (const LiteratureRow& r : f.literature.counts) {
    if (r.bound == 0) continue;
    categories.push_back("10^" + Int(static_cast<uint64_t>(r.bound)) + ":" +
                         Int(static_cast<uint64_t>(r.length)));
    series[0].values.push_back(static_cast<double>(r.found));
    series[1].values.push_back(static_cast<double>(r.published));
    rows += "<tr><td>" + BoundText(r.bound) + "</td><td>" + Int(static_cast<uint64_t>(r.length)) +
            "</td><td>" + Int(r.found) + "</td><td>" + Int(r.published) + "</td>" +
            VerdictCell(r.verdict) + "</tr>\n";
  }
  if (categories.empty()) {
    return html + "<p>データが 10^n 未満の素数を全て含む範囲が無いため、比べられません。</p>\n";
  }
  html += BarChart("chart-counts", "数列数 (範囲:長さ)", categories, series, true);
  return html +
         "<table><tr><th>範囲</th><th>長さ</th><th>数列数</th><th>文献の値</th><th></th></tr>\n" +
         rows + "</table>\n";
}

std::string Campaign(const PageFacts& f) {
  std::string html = "<h2>キャンペーンの各ステップ</h2>\n";
  if (!f.log.unreadableLines.empty()) {
    html += "<p class=\"mismatch\">" + std::string(kCampaignLogFile) + " の読み取れない行 " +
            Int(f.log.unreadableLines.size()) + " 行を飛ばしました。</p>\n";
  }
  std::vector<Series> time = {{"所要秒", "#1f77b4", {}, {}}, {"CPU秒", "#9467bd", {}, {}}};
  std::vector<Series> finds = {{"発見した数列", "#2ca02c", {}, {}}};
  int64_t untimed = 0;
  for (const CampaignStep& s : f.log.steps) {
    const auto bound = static_cast<double>(s.rangeEnd);
    if (s.timed) {
      time[0].points.emplace_back(bound, s.seconds);
      time[1].points.emplace_back(bound, s.cpuSeconds);
    } else {
      ++untimed;
    }
    finds[0].points.emplace_back(bound, s.Found());
  }
  if (untimed > 0) {
    html += "<p>時間の記録が無いステップ " + Int(static_cast<uint64_t>(untimed)) +
            " 個は時間の図に有りません。</p>\n";
  }
  html += "<p>横軸はデータの上限 (各ステップの範囲終了) です。</p>\n";
  html += LineChart("chart-time", "データの上限", "秒", time, false);
  html += LineChart("chart-finds", "データの上限", "発見した数列 (対数目盛)", finds, true);
  return html;
}

}  // namespace

std::string PageText(const PageFacts& f) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"Shift_JIS\">\n"
      "<title>kvreport</title>\n<style>\n"
      "body{font-family:\"IPAGothic\",\"IPAexGothic\",\"Noto Sans CJK JP\",sans-serif;"
      "margin:24px;color:#222}\n"
      "svg.chart{display:block;margin:8px 0;font-size:12px}\n"
      "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #bbb;padding:2px 8px;"
      "text-align:right}\n.match{color:#17602a}.mismatch{color:#b00020;font-weight:bold}"
      ".unknown{color:#777}\n</style>\n</head>\n<body>\n<h1>探索結果の集計</h1>\n";
  html += "<p>" + Escape(f.table) + "</p>\n<p>" + Escape(f.verdict) + "</p>\n";
  html += Lengths(f);
  html += Least(f);
  html += Counts(f);
  if (f.hasLog) html += Campaign(f);
  return html + "</body>\n</html>\n";
}

}  // namespace kv
