// In-memory stand-ins for both platform boundaries, so that the modes and the
// registry rules are tested on their own: a console whose input is scripted
// and whose output is recorded, and a registry key that holds any values,
// records its calls and fails where it is told to.
#pragma once

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "registry/registry_path.h"
#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {

// The bytes of a file in tests/, such as a fixture in tests/data.
inline std::string TestFile(const std::string& name) {
  std::stringstream text;
  text << std::ifstream(TANDOR_TESTS_DIR "/" + name, std::ios::binary).rdbuf();
  return text.str();
}

// Keeps what is written in `text`, or, when it `fails`, fails every write
// (a full disk: failed from the start).
struct FakeOutput : OutputStream {
  explicit FakeOutput(bool fails = false) : fails(fails) {}

  void Write(std::string_view bytes) override {
    if (!fails) text.append(bytes);
  }
  void Flush() override { flushed = text; }
  bool failed() const override { return fails; }

  bool fails;
  std::string text;
  std::string flushed;  // what had been written at the last Flush()
};

// Hands out `reads` in order, then the end of input, or a failed read. A
// read larger than the caller's buffer, or than `chunk`, is continued by the
// next call.
class FakeInput : public InputStream {
 public:
  explicit FakeInput(std::vector<std::string> reads = {}, bool fail_at_end = false,
                     size_t chunk = std::string::npos)
      : reads_(std::move(reads)), fail_at_end_(fail_at_end), chunk_(chunk) {}

  size_t Read(char* buffer, size_t capacity) override {
    if (shown != nullptr) seen.push_back(shown->flushed);
    if (next_ == reads_.size()) {
      failed_ = fail_at_end_;
      ++reads_at_end;
      return 0;
    }
    size_t count = reads_[next_].copy(buffer, std::min(capacity, chunk_));
    reads_[next_].erase(0, count);
    if (reads_[next_].empty()) ++next_;
    return count;
  }
  bool failed() const override { return failed_; }

  int reads_at_end = 0;  // calls made after the last read was handed out
  // When set, each read records in `seen` what `shown` had flushed by then:
  // what a person at the console saw while the tool waited.
  const FakeOutput* shown = nullptr;
  std::vector<std::string> seen;

 private:
  std::vector<std::string> reads_;
  bool fail_at_end_, failed_ = false;
  size_t next_ = 0, chunk_;
};

struct FakeConsole : Console {
  explicit FakeConsole(std::vector<std::string> arguments = {}, FakeInput input = FakeInput(),
                       FakeOutput output = FakeOutput())
      : arguments(std::move(arguments)), input(std::move(input)), output(std::move(output)) {
    this->input.shown = &this->output;
  }
  FakeConsole(const FakeConsole&) = delete;  // its input points at its output

  const std::vector<std::string>& Arguments() override { return arguments; }
  std::string CurrentDirectory() override { return directory; }
  InputStream& Input() override { return input; }
  OutputStream& Output() override { return output; }

  std::vector<std::string> arguments;
  std::string directory = "C:\\dir1\\dir2";
  FakeInput input;
  FakeOutput output;
};

// The one key HKEY_LOCAL_MACHINE\Software\Abc, holding the REG_SZ `values`
// by name, each as stored: a string's terminating zero is the caller's to
// add. Each call is recorded in `calls`.
struct FakeRegistry : RegistryService {
  static constexpr RegistryKey kAbcKey = 1;

  bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
            RegistryKey* key) override {
    calls.push_back(std::string("open ").append(sub_key).append(
        access == RegistryAccess::kRead ? " read" : " write"));
    if (root != kLocalMachine || sub_key != "Software\\Abc") return false;
    *key = kAbcKey;
    ++open_keys;
    return true;
  }

  bool Query(RegistryKey key, std::string_view name, uint32_t* type, char* data,
             uint32_t* size) override {
    calls.push_back(std::string("query ").append(name));
    if (data != nullptr) calls.back().append(" ").append(std::to_string(*size));
    if (out_of_memory) throw std::bad_alloc();
    auto value = values.find(std::string(name));
    if (key != kAbcKey || value == values.end()) return false;
    std::string& stored = value->second;
    uint32_t needed = static_cast<uint32_t>(stored.size());
    if (data != nullptr && *size < needed) return false;
    if (data != nullptr) memcpy(data, stored.data(), needed);
    if (data == nullptr) stored.append(grow_by, 'g');  // another process changes it now
    *type = kRegSz;
    *size = needed;
    return true;
  }

  bool SetString(RegistryKey key, std::string_view name, std::string_view expected,
                 std::string_view text) override {
    calls.push_back(std::string("set ").append(name).append("=").append(text));
    if (out_of_memory) throw std::bad_alloc();
    std::string& stored = values[std::string(name)];
    if (changed_to) stored = *changed_to;
    if (key != kAbcKey || StringValueText(kRegSz, stored) != expected) return false;
    stored = std::string(text) + '\0';
    return true;
  }

  void Close(RegistryKey) override {
    calls.push_back("close");
    --open_keys;
  }

  std::map<std::string, std::string> values;
  std::vector<std::string> calls;
  int open_keys = 0;           // opened and not yet closed
  bool out_of_memory = false;  // queries and sets throw std::bad_alloc
  size_t grow_by = 0;          // bytes a value grows by after a query for its size
  // Data another process gives the value just before it is set.
  std::optional<std::string> changed_to;
};

}  // namespace tandor
