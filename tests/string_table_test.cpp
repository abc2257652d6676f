#include "util/string_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> released;
void record_release(void* value) {
  released.push_back(value != nullptr ? static_cast<const char*>(value) : "(null)");
}

// A key whose home slot in a table of `capacity` slots is `slot`.
std::string key_with_home(uint32_t slot, uint32_t capacity, int skip = 0) {
  for (int i = 0;; ++i) {
    std::string key = "k" + std::to_string(i);
    if (string_table_hash(key.c_str()) % capacity == slot && skip-- == 0) return key;
  }
}

TEST(StringTable, HashIsAdditiveDjb2OverUnsignedBytes) {
  EXPECT_EQ(string_table_hash(""), 5381u);
  EXPECT_EQ(string_table_hash("abc"), 193485963u);
  EXPECT_EQ(string_table_hash("\xE9"), 177806u);
}

TEST(StringTable, GrowsBeforeTheTenthInsertionAndKeepsEveryKey) {
  StringTable* table = string_table_create(16);
  EXPECT_EQ(string_table_lookup(table, "anything"), nullptr);
  std::vector<std::string> keys;
  for (int i = 0; i < 18; ++i) keys.push_back("key" + std::to_string(i));
  for (int i = 0; i < 9; ++i) string_table_insert(table, keys[i].c_str(), &keys[i]);
  EXPECT_EQ(table->capacity, 16);
  string_table_insert(table, keys[9].c_str(), &keys[9]);
  EXPECT_EQ(table->capacity, 32);
  for (int i = 10; i < 17; ++i) string_table_insert(table, keys[i].c_str(), &keys[i]);
  EXPECT_EQ(table->capacity, 32);
  string_table_insert(table, keys[17].c_str(), &keys[17]);
  EXPECT_EQ(table->capacity, 64);
  EXPECT_EQ(table->count, 18);
  for (auto& key : keys) EXPECT_EQ(string_table_lookup(table, key.c_str()), &key) << key;
  EXPECT_EQ(string_table_lookup(table, "KEY1"), nullptr);  // case matters
  string_table_destroy(table, nullptr);
}

TEST(StringTable, ProbesLinearlyAndWrapsFromTheLastSlot) {
  StringTable* table = string_table_create(16);
  const std::string last_a = key_with_home(15, 16), last_b = key_with_home(15, 16, 1);
  int a = 1, b = 2;
  string_table_insert(table, last_a.c_str(), &a);
  string_table_insert(table, last_b.c_str(), &b);
  ASSERT_NE(table->slots[0], nullptr);
  EXPECT_STREQ(table->slots[0]->key, last_b.c_str());
  EXPECT_EQ(string_table_lookup(table, last_a.c_str()), &a);
  EXPECT_EQ(string_table_lookup(table, last_b.c_str()), &b);
  string_table_destroy(table, nullptr);
}

TEST(StringTable, DuplicateKeysAreStoredTwiceAndReleasedInSlotOrder) {
  released.clear();
  StringTable* table = string_table_create(16);
  char first[] = "first", second[] = "second";
  string_table_insert(table, "same", first);
  string_table_insert(table, "same", second);
  string_table_insert(table, "null-valued", nullptr);
  EXPECT_EQ(table->count, 3);
  EXPECT_STREQ(static_cast<char*>(string_table_lookup(table, "same")), "first");
  EXPECT_EQ(string_table_lookup(table, "null-valued"), nullptr);

  std::vector<std::string> in_slot_order;
  for (int i = 0; i < table->capacity; ++i) {
    if (table->slots[i] != nullptr) {
      const void* v = table->slots[i]->value;
      in_slot_order.push_back(v != nullptr ? static_cast<const char*>(v) : "(null)");
    }
  }
  string_table_destroy(table, record_release);
  EXPECT_EQ(released, in_slot_order);
  string_table_destroy(nullptr, record_release);
  EXPECT_EQ(released.size(), 3u);
}

TEST(StringTable, SmallCapacitiesAreRaisedSoProbingEnds) {
  StringTable* table = string_table_create(0);
  std::vector<std::string> keys;
  for (int i = 0; i < 50; ++i) keys.push_back(std::to_string(i));
  for (auto& key : keys) string_table_insert(table, key.c_str(), &key);
  for (auto& key : keys) EXPECT_EQ(string_table_lookup(table, key.c_str()), &key);
  EXPECT_EQ(string_table_lookup(table, "absent"), nullptr);
  string_table_destroy(table, nullptr);
}

TEST(StringSet, ContainsWhatWasAdded) {
  StringTable* set = string_set_create(16);
  string_set_add(set, "here");
  EXPECT_EQ(string_set_contains(set, "here"), 1);
  EXPECT_EQ(string_set_contains(set, "Here"), 0);
  EXPECT_EQ(string_set_contains(set, "gone"), 0);
  string_set_destroy(set);
}

}  // namespace
