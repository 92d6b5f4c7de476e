// libFuzzer target: the streaming filter against the line-by-line model, with
// the search text, the replacement, the block size and the read size all
// taken from the fuzzer's bytes.
// tests/fuzz/CMakeLists.txt and README.md say how to build and run it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fakes.h"
#include "filter_model.h"
#include "fuzz/fuzz_main.h"
#include "modes/exit_status.h"
#include "modes/filter.h"

// Layout: four sizes (search length, replacement length, block size, read
// size), then the search text, the replacement and the input.
void FuzzOne(std::string_view data) {
  if (data.size() < 4) return;
  // Search texts beyond 16 bytes are checked by Two-Way.
  size_t search_size = static_cast<uint8_t>(data[0]) % 41, replace_size = data[1] & 15;
  if (data.size() < 4 + search_size + replace_size) return;
  std::string_view search = data.substr(4, search_size);
  std::string_view replace = data.substr(4 + search_size, replace_size);
  std::string text(data.substr(4 + search_size + replace_size));
  tandor::FakeInput input = tandor::FakeInput::Chunked(text, 1 + (data[3] & 63));
  tandor::FakeOutput output;
  int status = tandor::FilterStreamInBlocks(search, replace, input, output, 1 + (data[2] & 63));
  bool found;
  std::string expected = tandor::ModelFilter(text, search, replace, &found);
  if (output.text != expected ||
      status != (found ? tandor::kStatusSuccess : tandor::kStatusNotDone))
    abort();
}
