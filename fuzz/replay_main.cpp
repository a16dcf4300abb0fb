// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput with an ordinary
// compiler: every argument is a file or a directory of files (not recursive). A
// failing input aborts, as it would under the fuzzer; the exit code is 1 when an
// argument cannot be read or no input was found.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // A heap copy of exactly the input's size, so that reads past the end are caught
  // by the sanitizers when the replay runs in a sanitized build.
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        if (!replayFile(entry.path())) {
          std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
          return 1;
        }
        ++replayed;
      }
    } else if (replayFile(arg)) {
      ++replayed;
    } else {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed == 0 ? 1 : 0;
}
