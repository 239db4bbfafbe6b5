// Replays saved inputs through the fuzz entry without libFuzzer, so that
// every input that once crashed it stays a test in every build. A relapse
// crashes or trips a sanitizer; finding no input at all is a failure too,
// since it means the saved inputs went missing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int a = 1; a < argc; ++a) {
    std::error_code error;
    std::filesystem::directory_iterator entries(argv[a], error);
    if (error) {
      std::fprintf(stderr, "cannot list \"%s\": %s\n", argv[a], error.message().c_str());
      return 1;
    }
    for (const auto& entry : entries) {
      // Dot files (the folder keeper) are not inputs.
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with('.')) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot open \"%s\"\n", entry.path().c_str());
        return 1;
      }
      std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      std::fflush(stdout);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no saved inputs found\n");
    return 1;
  }
  std::fprintf(stderr, "replayed %d saved inputs without a fault\n", replayed);
  return 0;
}
