// The string table driven by a byte string of operations and checked against a plain list of
// what was inserted: lookups, the slot layout after growth, and one release per entry.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "fuzz_support.h"
#include "util/string_table.h"

namespace {

struct Model {
  std::vector<void*> values;  // in insertion order
  std::unordered_map<std::string, std::vector<void*>> by_key;
  std::vector<void*> released;
};

Model* releasing_model = nullptr;

void count_release(void* value) {
  releasing_model->released.push_back(value);
  std::free(value);
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ == size_; }
  uint8_t byte() { return empty() ? 0 : data_[position_++]; }
  // A key of up to 15 bytes; a NUL ends it early, as it would any C string.
  std::string key() {
    const size_t length = byte() % 16;
    std::string key;
    for (size_t i = 0; i < length && !empty(); ++i) key += static_cast<char>(byte());
    return key.substr(0, key.find('\0'));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Every entry is reachable from its home slot, the count matches and one slot stays empty.
void check_layout(const StringTable& table, const Model& model) {
  FUZZ_CHECK(table.count == static_cast<int32_t>(model.values.size()));
  FUZZ_CHECK(table.capacity >= 3 && table.count < table.capacity);
  for (int32_t i = 0; i < table.capacity; ++i) {
    const StringTableEntry* entry = table.slots[i];
    if (entry == nullptr) continue;
    FUZZ_CHECK(entry->hash == string_table_hash(entry->key));
    const auto capacity = static_cast<uint32_t>(table.capacity);
    for (uint32_t j = entry->hash % capacity; j != static_cast<uint32_t>(i);
         j = (j + 1) % capacity) {
      FUZZ_CHECK(table.slots[j] != nullptr);
    }
  }
}

// The value found must belong to an entry with that key; an absent key finds nothing.
void check_lookup(const StringTable& table, const Model& model, const std::string& key) {
  void* found = string_table_lookup(&table, key.c_str());
  const auto entries = model.by_key.find(key);
  if (entries == model.by_key.end()) {
    FUZZ_CHECK(found == nullptr);
  } else {
    const std::vector<void*>& values = entries->second;
    FUZZ_CHECK(std::find(values.begin(), values.end(), found) != values.end());
  }
}

}  // namespace

// First byte: the initial capacity (0 to 31, below 3 included). Then one operation per byte:
// insert a key with a fresh value, insert it with a null value, look a key up, insert a run of
// generated keys (growth), or check the slot layout.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  Model model;
  StringTable* table = string_table_create(input.byte() % 32 - 2);
  int serial = 0;
  const auto insert = [&](const std::string& key, bool with_value) {
    void* value = nullptr;
    if (with_value) {
      value = std::malloc(sizeof(int));
      FUZZ_CHECK(value != nullptr);
      *static_cast<int*>(value) = ++serial;
    }
    string_table_insert(table, key.c_str(), value);
    model.values.push_back(value);
    model.by_key[key].push_back(value);
    // Growth doubles the table once the entries would fill more than half of it.
    FUZZ_CHECK(table->count <= table->capacity / 2 + 1);
  };

  while (!input.empty() && model.values.size() < 300) {
    const uint8_t operation = input.byte();
    switch (operation % 5) {
      case 0:
        insert(input.key(), true);
        break;
      case 1:
        insert(input.key(), false);
        break;
      case 2:
        check_lookup(*table, model, input.key());
        break;
      case 3:
        for (int i = 0, n = operation / 5; i < n; ++i) insert(std::to_string(serial), true);
        break;
      default:
        check_layout(*table, model);
        break;
    }
  }
  check_layout(*table, model);
  for (const auto& entry : model.by_key) check_lookup(*table, model, entry.first);

  // Destruction hands each value, null ones included, to the callback exactly once.
  releasing_model = &model;
  string_table_destroy(table, count_release);
  releasing_model = nullptr;
  std::vector<void*> stored = model.values;
  std::sort(stored.begin(), stored.end());
  std::sort(model.released.begin(), model.released.end());
  FUZZ_CHECK(stored == model.released);
  return 0;
}
