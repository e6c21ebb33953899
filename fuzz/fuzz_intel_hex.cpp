// The Intel HEX reader against any file: the input is the file. Checked: the verdict never
// depends on how the file is read. The console's check judges it alike with LF or CR LF line
// ends; the simulated card's boot loader, fed the same bytes in pieces of any size, reaches one
// verdict, and passes every file the console passes with the same records and data bytes.
// (Agreement with srec_info on the committed corpus is a unit test: it runs a program per file.)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cardsim/intel_hex.h"
#include "intel_hex/intel_hex.h"

namespace {

using namespace velmora;

void Expect(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_intel_hex: invariant violated: %s\n", what.c_str());
  std::abort();
}

cardsim::IntelHexChecker Card(std::string_view file, std::size_t piece) {
  cardsim::IntelHexChecker card;
  for (std::size_t at = 0; at < file.size(); at += piece) card.Feed(file.substr(at, piece));
  card.Finish();
  return card;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const intel_hex::FileCheck check = intel_hex::CheckFile(file);
  Expect(check.Ok() == intel_hex::Describe(check, "p.hex").empty(), "a verdict without words");

  std::string crlf;  // every LF without its CR given one
  for (std::size_t i = 0; i < size; crlf += file[i++])
    if (file[i] == '\n' && (i == 0 || file[i - 1] != '\r')) crlf += '\r';
  const intel_hex::FileCheck other = intel_hex::CheckFile(crlf);
  Expect(other.fault == check.fault && other.line == check.line && other.records == check.records &&
             other.data_bytes == check.data_bytes,
         "CR LF line ends change the verdict: " + intel_hex::Describe(other, "p.hex") + " / " +
             intel_hex::Describe(check, "p.hex"));

  const cardsim::IntelHexChecker whole = Card(file, size + 1);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7} + size % 251}) {
    const cardsim::IntelHexChecker card = Card(file, piece);
    Expect(card.Verdict() == whole.Verdict(),
           "pieces of " + std::to_string(piece) + ": " + card.Verdict() + " / " + whole.Verdict());
  }
  if (check.Ok()) {
    Expect(whole.Ok() && whole.EndSeen() && whole.Records() == check.records &&
               whole.DataBytes() == check.data_bytes,
           "the card judges a sound file otherwise: " + whole.Verdict());
  }
  return 0;
}
