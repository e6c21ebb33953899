// Runs a fuzz target over its committed seeds without libFuzzer, so that the ordinary test run
// (and any compiler) checks every invariant on every seed. Usage: replay SEED_DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: %s SEED_DIR\n", argv[0]), 2;
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    // A broken invariant aborts, naming the step: the seed is the one printed last.
    std::fprintf(stderr, "%s\n", entry.path().filename().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++seeds;
  }
  std::printf("%d seeds replayed\n", seeds);
  return seeds > 0 ? 0 : 1;
}
