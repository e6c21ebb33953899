// Files by number, as the console's handlers open them in one place and close them in another.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Empty on success; otherwise the system's description of the failure.
using FileError = std::optional<std::string>;

class Files {
 public:
  virtual ~Files() = default;
  // A number no open file uses, 1 or more.
  virtual std::int16_t FreeFile() = 0;
  // Raw bytes, read only.
  virtual FileError OpenForRead(std::int16_t number, const std::string& path) = 0;
  // Raw bytes, every write appended at the end; created if missing, never truncated.
  virtual FileError OpenForAppend(std::int16_t number, const std::string& path) = 0;
  // Raw bytes, written anew: created if missing, emptied if not. Only the kinds of files that
  // can do it say so.
  virtual FileError OpenForWrite(std::int16_t, const std::string&) {
    return std::string("Writing a file anew is not supported here");
  }
  // A whole file written at once: it holds all of bytes, or a failure left it as it was (or
  // absent). Only the kinds of files that can do it say so.
  virtual FileError WriteWhole(const std::string&, std::string_view) {
    return std::string("Writing a whole file is not supported here");
  }
  virtual std::int64_t Length(std::int16_t number) = 0;
  // Up to count bytes from the current position; fewer at the end of the file.
  virtual std::string Read(std::int16_t number, std::size_t count) = 0;
  virtual FileError Write(std::int16_t number, std::string_view bytes) = 0;
  // Flushes and closes; a number that is not open is ignored.
  virtual void Close(std::int16_t number) = 0;
  virtual void CloseAll() = 0;
  virtual int OpenCount() const = 0;
};

}  // namespace velmora
