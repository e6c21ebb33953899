#include "trends/trends.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/program_view.h"
#include "replies/op_status.h"

namespace velmora {

std::int16_t StateCode(const std::string& state) {
  return state == "Ranging" ? 1 : state == "Locked" ? 2 : 0;
}

std::int16_t LineCode(const std::string& text) {
  return text == "OFF HOOK" || text == "RING ON" ? 1 : 0;
}

void TrendSeries::Push(const Sample& s, std::size_t capacity) {
  if (ring_.size() < capacity) {
    // Grow by hand: doubling past the bound would cost memory the ring never uses.
    if (ring_.size() == ring_.capacity())
      ring_.reserve(std::min(capacity, std::max<std::size_t>(64, ring_.size() * 2)));
    ring_.push_back(s);
    return;
  }
  ring_[head_] = s;
  head_ = (head_ + 1) % ring_.size();
}

void Trends::Record(int program, int cpe, Quantity q, int value) {
  pending_.push_back({program, cpe, q, value});
}

void Trends::CommitLine() {
  if (pending_.empty()) return;
  const std::int64_t mono = clock_->MonotonicMs();
  const std::int64_t wall = clock_->WallMs();
  for (const Pending& p : pending_) Store(p, mono, wall);
  pending_.clear();
}

void Trends::Mark(int program, Quantity q, int value) {
  Store({program, kNoCpe, q, value}, clock_->MonotonicMs(), clock_->WallMs());
}

void Trends::Store(const Pending& p, std::int64_t mono, std::int64_t wall) {
  if (p.cpe < kNoCpe || p.cpe >= kCpeSlots - 1 || capacity_ == 0) return;
  series_[Index(p.cpe, p.q)].Push(
      {mono, wall, seq_++, static_cast<std::int16_t>(p.value), static_cast<std::int8_t>(p.program)},
      capacity_);
  ++revision_;
}

std::size_t Trends::Bytes() const {
  std::size_t bytes = 0;
  for (const TrendSeries& s : series_) bytes += s.Bytes();
  return bytes;
}

std::string QuantityName(Quantity q) {
  static constexpr const char* kNames[kQuantities] = {
      "operational state", "signal strength", "SFD losses",  "line 1 hook",
      "line 1 ring",       "line 2 hook",     "line 2 ring", "link",
      "temperature",       "program",         "download",    "port"};
  return kNames[static_cast<int>(q)];
}

std::string ProgramName(int program) {
  const std::string text = ProgramTypeText(program);
  return text.empty() ? std::to_string(program) : text;
}

std::string ValueText(Quantity q, int value) {
  switch (q) {
    case Quantity::State:
      return DescribeOpState(static_cast<std::uint8_t>(value));
    case Quantity::Line1Hook:
    case Quantity::Line2Hook:
      return value ? "OFF HOOK" : "ON HOOK";
    case Quantity::Line1Ring:
    case Quantity::Line2Ring:
      return value ? "RING ON" : "RING OFF";
    case Quantity::Link:
      return value == kCommandedReset ? "Commanded Reset" : "Communications Lost";
    case Quantity::Program:
      return ProgramName(value);
    case Quantity::Download:
      return value ? "start" : "end";
    case Quantity::Port:
      return "lost";
    default:
      return std::to_string(value);
  }
}

std::string IsoTime(std::int64_t wallMs) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds{wallMs}};
  const auto day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss time{t - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()),
                int(time.subseconds().count()));
  return text;
}

std::string TrendsCsv(const Trends& trends) {
  struct Row {
    const Sample* sample;
    int cpe;
    Quantity q;
  };
  std::vector<Row> rows;
  for (int cpe = kNoCpe; cpe < Trends::kCpeSlots - 1; ++cpe) {
    for (int q = 0; q < kQuantities; ++q) {
      const TrendSeries& series = trends.Series(cpe, static_cast<Quantity>(q));
      for (std::size_t i = 0; i < series.size(); ++i)
        rows.push_back({&series[i], cpe, static_cast<Quantity>(q)});
    }
  }
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return a.sample->seq < b.sample->seq; });
  std::string csv = "time,program,cpe,quantity,value\r\n";
  csv.reserve(rows.size() * 48 + csv.size());
  for (const Row& r : rows) {
    csv += IsoTime(r.sample->wallMs) + ',' + ProgramName(r.sample->program) + ',' +
           (r.cpe == kNoCpe ? std::string{} : std::to_string(r.cpe)) + ',' + QuantityName(r.q) +
           ',' + ValueText(r.q, r.sample->value) + "\r\n";
  }
  return csv;
}

}  // namespace velmora
