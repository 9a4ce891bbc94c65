// Runs a fuzz target once on each input of its seed corpus, without libFuzzer: the quick test
// tier's check that the committed seeds still pass, under the host build's AddressSanitizer and
// UndefinedBehaviorSanitizer. A target aborts on what it must never see; so does this program
// when an input cannot be read.
//
//   <target>-seeds FILE|FOLDER...
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; i++) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& item : std::filesystem::directory_iterator(argv[i])) {
        inputs.push_back(item.path());
      }
    } else {
      inputs.push_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    fprintf(stderr, "no input\n");
    return 2;
  }
  for (const auto& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  printf("%zu inputs passed\n", inputs.size());
  return 0;
}
