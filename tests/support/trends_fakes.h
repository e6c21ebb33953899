// Fakes for the trends: a clock the test sets, and files that can be written anew.
#pragma once

#include "platform/clock.h"
#include "support/fakes.h"

namespace velmora::testing {

class ManualClock : public Clock {
 public:
  std::int64_t mono = 1'000;
  std::int64_t wall = 1'796'601'600'000;  // 2026-12-07T00:00:00.000Z
  std::int64_t MonotonicMs() const override { return mono; }
  std::int64_t WallMs() const override { return wall; }
  void Advance(std::int64_t ms) {
    mono += ms;
    wall += ms;
  }
};

class RewritableFiles : public FakeFiles {
 public:
  FileError OpenForWrite(std::int16_t number, const std::string& path) override {
    if (FileError error = OpenForAppend(number, path)) return error;
    disk[path].bytes.clear();
    return {};
  }
};

}  // namespace velmora::testing
