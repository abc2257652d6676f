#include "util/string_table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// With fewer slots the growth rule could fill the table, and probing would never end.
constexpr int32_t kMinCapacity = 3;

[[noreturn]] void out_of_memory() {
  std::fputs("pinreel: out of memory\n", stderr);
  std::abort();
}

void* checked_malloc(size_t size) {
  void* memory = std::malloc(size);
  if (memory == nullptr) out_of_memory();
  return memory;
}

void* checked_calloc(size_t count, size_t size) {
  void* memory = std::calloc(count, size);
  if (memory == nullptr) out_of_memory();
  return memory;
}

uint32_t next_slot(uint32_t index, int32_t capacity) {
  return index + 1 == static_cast<uint32_t>(capacity) ? 0 : index + 1;
}

void grow(StringTable* table) {
  if (table->capacity > INT32_MAX / 2) out_of_memory();
  const int32_t capacity = table->capacity * 2;
  auto** slots = static_cast<StringTableEntry**>(
      checked_calloc(static_cast<size_t>(capacity), sizeof(StringTableEntry*)));
  for (int32_t i = 0; i < table->capacity; ++i) {
    StringTableEntry* entry = table->slots[i];
    if (entry == nullptr) continue;
    uint32_t index = entry->hash % static_cast<uint32_t>(capacity);
    while (slots[index] != nullptr) index = next_slot(index, capacity);
    slots[index] = entry;
  }
  std::free(table->slots);
  table->slots = slots;
  table->capacity = capacity;
}

}  // namespace

const char* string_set_placeholder = "dummy";

StringTable* string_table_create(int32_t capacity) {
  if (capacity < kMinCapacity) capacity = kMinCapacity;
  auto* table = static_cast<StringTable*>(checked_calloc(1, sizeof(StringTable)));
  table->capacity = capacity;
  table->slots = static_cast<StringTableEntry**>(
      checked_calloc(static_cast<size_t>(capacity), sizeof(StringTableEntry*)));
  return table;
}

void string_table_destroy(StringTable* table, StringTableRelease release) {
  if (table == nullptr) return;
  for (int32_t i = 0; i < table->capacity; ++i) {
    StringTableEntry* entry = table->slots[i];
    if (entry == nullptr) continue;
    if (release != nullptr) release(entry->value);
    std::free(entry->key);
    std::free(entry);
  }
  std::free(table->slots);
  std::free(table);
}

uint32_t string_table_hash(const char* key) {
  uint32_t hash = 5381;
  for (const auto* p = reinterpret_cast<const unsigned char*>(key); *p != 0; ++p) {
    hash = hash * 33 + *p;
  }
  return hash;
}

void string_table_insert(StringTable* table, const char* key, void* value) {
  const uint32_t hash = string_table_hash(key);
  // The count before this entry decides growth.
  if (table->capacity < 2 * static_cast<int64_t>(table->count)) grow(table);

  uint32_t index = hash % static_cast<uint32_t>(table->capacity);
  while (table->slots[index] != nullptr) index = next_slot(index, table->capacity);

  // Every byte of both is written here: no zeroing needed.
  auto* entry = static_cast<StringTableEntry*>(checked_malloc(sizeof(StringTableEntry)));
  const size_t size = std::strlen(key) + 1;
  entry->key = static_cast<char*>(checked_malloc(size));
  std::memcpy(entry->key, key, size);
  entry->hash = hash;
  entry->value = value;
  table->slots[index] = entry;
  ++table->count;
}

void* string_table_lookup(const StringTable* table, const char* key) {
  const uint32_t hash = string_table_hash(key);
  uint32_t index = hash % static_cast<uint32_t>(table->capacity);
  for (const StringTableEntry* entry; (entry = table->slots[index]) != nullptr;
       index = next_slot(index, table->capacity)) {
    if (entry->hash == hash && std::strcmp(entry->key, key) == 0) return entry->value;
  }
  return nullptr;
}

void release_value(void* value) {
  std::free(value);
}

StringTable* string_set_create(int32_t capacity) {
  return string_table_create(capacity);
}

void string_set_destroy(StringTable* table) {
  string_table_destroy(table, nullptr);
}

void string_set_add(StringTable* table, const char* key) {
  string_table_insert(table, key, const_cast<char*>(string_set_placeholder));
}

int string_set_contains(const StringTable* table, const char* key) {
  return string_table_lookup(table, key) != nullptr ? 1 : 0;
}
