// Replays a fuzz target's corpus without the fuzzer, so the ordinary suite (any compiler, any
// sanitizer) runs every input the fuzzer kept or crashed on. Arguments are files or folders.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_in(const std::filesystem::path& place) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(place)) {
    for (const auto& entry : std::filesystem::directory_iterator(place)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  } else {
    files.push_back(place);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::size_t replayed = 0;
  for (int argument = 1; argument < argc; ++argument) {
    for (const auto& file : inputs_in(argv[argument])) {
      std::ifstream stream(file, std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
      std::fprintf(stderr, "%s\n", file.filename().c_str());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed == 0 ? 1 : 0;
}
