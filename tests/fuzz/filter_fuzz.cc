// libFuzzer target: the streaming filter against the line-by-line model, with
// the search text, the replacement, the block size and the read size all
// taken from the fuzzer's bytes. Built with ASan and UBSan as well.
//
// Build (clang only; the option is ignored with another compiler) and run for
// a minute:
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
//         -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDOR_FUZZ=ON
//   ninja -C build/fuzz filter_fuzz
//   mkdir -p build/fuzz/corpus
//   build/fuzz/tests/filter_fuzz -max_total_time=60 build/fuzz/corpus
// A mismatch aborts; libFuzzer then leaves the input in crash-<sha1>, which
// the same binary replays when given that file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fakes.h"
#include "filter_model.h"
#include "modes/exit_status.h"
#include "modes/filter.h"

namespace {

// Layout: four sizes (search length, replacement length, block size, read
// size), then the search text, the replacement and the input.
struct FuzzRun {
  std::string_view search, replace;
  std::string input;
  size_t block_size, read_chunk;
};

bool Split(std::string_view data, FuzzRun* run) {
  if (data.size() < 4) return false;
  size_t search_size = static_cast<uint8_t>(data[0]) % 41;  // beyond 16: Two-Way
  size_t replace_size = static_cast<uint8_t>(data[1]) % 9;
  run->block_size = 1 + static_cast<uint8_t>(data[2]) % 64;
  run->read_chunk = 1 + static_cast<uint8_t>(data[3]) % 64;
  data.remove_prefix(4);
  if (data.size() < search_size + replace_size) return false;
  run->search = data.substr(0, search_size);
  run->replace = data.substr(search_size, replace_size);
  run->input = std::string(data.substr(search_size + replace_size));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzRun run;
  if (!Split(std::string_view(reinterpret_cast<const char*>(bytes), size), &run)) return 0;
  tandor::FakeInput input = tandor::FakeInput::Chunked(run.input, run.read_chunk);
  tandor::FakeOutput output;
  int status = tandor::FilterStreamInBlocks(run.search, run.replace, input, output, run.block_size);
  bool found;
  std::string expected = tandor::ModelFilter(run.input, run.search, run.replace, &found);
  int expected_status = found ? tandor::kStatusSuccess : tandor::kStatusNotDone;
  if (output.text != expected || status != expected_status) abort();
  return 0;
}
