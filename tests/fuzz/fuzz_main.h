// The entry point libFuzzer calls, over the target's FuzzOne: each input as
// bytes. A target aborts when a property fails; libFuzzer then keeps the
// input in a crash-<sha1> file, which the same binary replays when given it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string_view>

void FuzzOne(std::string_view data);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzOne({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
