#include "util/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> released;

TEST(StringTable, FindsEveryKeyThroughGrowthAndCollisions) {
  for (int32_t capacity : {0, 3, 16}) {  // capacities below 3 are raised, so probing ends
    StringTable* table = string_table_create(capacity);
    EXPECT_EQ(string_table_lookup(table, "anything"), nullptr);
    std::vector<std::string> keys = {"Aa", "B@"};  // equal djb2 hashes
    for (int i = 0; i < 200; ++i) keys.push_back("key" + std::to_string(i));
    for (auto& key : keys) string_table_insert(table, key.c_str(), &key);
    for (auto& key : keys) EXPECT_EQ(string_table_lookup(table, key.c_str()), &key) << key;
    EXPECT_EQ(string_table_lookup(table, "KEY1"), nullptr);   // case matters
    EXPECT_EQ(string_table_lookup(table, "C\x1f"), nullptr);  // the same hash again
    string_table_destroy(table, nullptr);
  }
}

TEST(StringTable, DuplicateKeysAreStoredTwiceAndEachValueReleasedOnce) {
  StringTable* table = string_table_create(16);
  char first[] = "first", second[] = "second";
  string_table_insert(table, "same", first);
  string_table_insert(table, "same", second);
  string_table_insert(table, "null-valued", nullptr);
  EXPECT_STREQ(static_cast<char*>(string_table_lookup(table, "same")), "first");
  const auto record = [](void* value) {
    released.push_back(value != nullptr ? static_cast<const char*>(value) : "(null)");
  };
  string_table_destroy(table, record);
  string_table_destroy(nullptr, record);
  std::sort(released.begin(), released.end());
  EXPECT_EQ(released, (std::vector<std::string>{"(null)", "first", "second"}));
}

}  // namespace
