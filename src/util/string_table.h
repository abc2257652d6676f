// A string-keyed open-addressing hash table (djb2, linear probing, doubling when
// capacity < 2 * count). The table owns its slots, entries and key copies; values belong to the
// caller and are handed to the release callback on destruction. Equal keys may be inserted twice.
#pragma once

#include <cstdint>

struct StringTableEntry {
  uint32_t hash;  // string_table_hash(key), kept so growth never re-hashes
  char* key;      // the table's own copy
  void* value;    // the caller's; may be null
};

struct StringTable {
  int32_t count;
  int32_t capacity;
  StringTableEntry** slots;  // null marks an empty slot
};

using StringTableRelease = void (*)(void* value);

// A new empty table. Capacities below 3 are raised to 3, so a slot always stays empty.
// Aborts with a message when memory is exhausted.
StringTable* string_table_create(int32_t capacity);
// Calls `release` (when given) with each entry's value in slot order, then frees everything.
// A null table is ignored.
void string_table_destroy(StringTable* table, StringTableRelease release);
uint32_t string_table_hash(const char* key);
// Adds `key` (copied) with `value`; no test for a key already present.
void string_table_insert(StringTable* table, const char* key, void* value);
// The value of the first entry with `key` met from its home slot, or null.
void* string_table_lookup(const StringTable* table, const char* key);
// Frees a value that was allocated with malloc.
void release_value(void* value);

extern const char* string_set_placeholder;
StringTable* string_set_create(int32_t capacity);
void string_set_destroy(StringTable* table);
void string_set_add(StringTable* table, const char* key);
int string_set_contains(const StringTable* table, const char* key);
