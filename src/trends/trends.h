// What the card reported over time: every value the reply parsers store, with the time of the
// reply, plus the console's program changes. Each series is a ring, so memory stays bounded
// however long the console runs; the oldest samples go first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace velmora {

enum class Quantity : std::uint8_t {
  // Per CPE (the line card's 0 to 3, or the CPE application's own link)
  State,
  Signal,
  SfdLoss,
  Line1Hook,
  Line1Ring,
  Line2Hook,
  Line2Ring,
  Link,  // the link went down: "Communications Lost" or "Commanded Reset"
  // The card and the console
  Temperature,
  Program,   // a program recognised
  Download,  // a download started or ended
  Port,      // the port was lost
};
constexpr int kQuantities = 12;
// The CPE application's own link, and values of the card as a whole.
constexpr int kNoCpe = -1;

// Codes of the values that are texts on screen.
enum LinkCode : std::int16_t { kCommunicationsLost = 0, kCommandedReset = 1 };
std::int16_t StateCode(const std::string& state);  // as the card's op_status codes
std::int16_t LineCode(const std::string& text);    // 1 for "OFF HOOK" and "RING ON"

struct Sample {
  std::int64_t monoMs;  // orders and spaces the samples
  std::int64_t wallMs;  // labels them
  std::uint32_t seq;    // order of recording across series
  std::int16_t value;
  std::int8_t program;
};

class TrendSeries {
 public:
  std::size_t size() const { return ring_.size(); }
  bool empty() const { return ring_.empty(); }
  // Oldest first.
  const Sample& operator[](std::size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
  const Sample& back() const { return (*this)[size() - 1]; }
  void Push(const Sample& s, std::size_t capacity);
  std::size_t Bytes() const { return ring_.capacity() * sizeof(Sample); }

 private:
  std::vector<Sample> ring_;
  std::size_t head_ = 0;
};

class Trends {
 public:
  // 24 hours of the fastest polled value (one signal strength reading every 2 s) is 43 200.
  static constexpr std::size_t kDefaultCapacity = 50000;
  explicit Trends(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  void SetClock(Clock& clock) { clock_ = &clock; }
  const Clock& clock() const { return *clock_; }

  // Held until the reply line has been handled to its end, then stamped with one time:
  // a line the parsers reject records nothing.
  void Record(int program, int cpe, Quantity q, int value);
  void CommitLine();
  void DiscardLine() { pending_.clear(); }
  // Stamped at once.
  void Mark(int program, Quantity q, int value);

  // cpe from kNoCpe to 3.
  const TrendSeries& Series(int cpe, Quantity q) const { return series_[Index(cpe, q)]; }
  // kNoCpe and the line card's CPEs 0 to 3.
  static constexpr int kCpeSlots = 5;
  // Changes with every stored sample: lets a view tell whether there is anything new.
  std::uint64_t Revision() const { return revision_; }
  std::size_t Capacity() const { return capacity_; }
  std::size_t Bytes() const;

 private:
  struct Pending {
    int program, cpe;
    Quantity q;
    int value;
  };
  static std::size_t Index(int cpe, Quantity q) {
    return static_cast<std::size_t>(cpe + 1) * kQuantities + static_cast<std::size_t>(q);
  }
  void Store(const Pending& p, std::int64_t mono, std::int64_t wall);

  Clock* clock_ = &SystemClock();
  std::size_t capacity_;
  std::array<TrendSeries, kCpeSlots * kQuantities> series_;
  std::vector<Pending> pending_;
  std::uint32_t seq_ = 0;
  std::uint64_t revision_ = 0;
};

// Texts of the CSV export and the charts' labels.
std::string QuantityName(Quantity q);
std::string ValueText(Quantity q, int value);
std::string ProgramName(int program);
// ISO 8601, UTC, with milliseconds: 2026-12-07T01:35:48.123Z
std::string IsoTime(std::int64_t wallMs);
// One row per sample, in the order recorded, under a header row.
std::string TrendsCsv(const Trends& trends);

}  // namespace velmora
