// The built program run end to end in a temporary directory, and the programs that read what it
// writes: the fixture of the command-line and format tests, which define PINREEL_BINARY_PATH.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/exif_builder.h"
#include "support/platform.h"

namespace e2e {

using Names = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out, err;
  bool operator==(const Outcome& o) const {
    return status == o.status && out == o.out && err == o.err;
  }
};
inline std::ostream& operator<<(std::ostream& s, const Outcome& o) {
  return s << "status " << o.status << ", out [" << o.out << "], err [" << o.err << "]";
}
// What a run should give, written with "\n" for the platform's line ends.
inline Outcome outcome(int status, const std::string& out, const std::string& err = "") {
  return {status, platform::text_stream(out), platform::text_stream(err)};
}

inline std::filesystem::path fs_path(const std::string& path) {
  return std::filesystem::u8path(path);  // UTF-8 on Windows too
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::make_temp_dir();
    ASSERT_NE(dir_, "");
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(fs_path(dir_), error);
    EXPECT_FALSE(error) << error.message();
    if (!skipped_.empty()) std::printf("clients skipped: %s\n", skipped_.c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string read(const std::string& name) const { return read_file(path(name)); }
  void write(const std::string& name, const fixture::Bytes& bytes) const {
    fixture::write_file(path(name), bytes);
  }
  void mkdir_in(const std::string& name) const {
    ASSERT_TRUE(std::filesystem::create_directory(fs_path(path(name))));
  }

  // Runs pinreel in the temporary directory (or `cwd` inside it), standard output to `stdout_to`
  // when given.
  Outcome run(const Names& args, const std::string& cwd = "",
              const std::string& stdout_to = "") const {
    const std::string out = stdout_to.empty() ? path(".stdout") : stdout_to;
    Outcome result{platform::run(program_, args, path(cwd), out, path(".stderr"), options_),
                   stdout_to.empty() ? read_file(out) : "", read(".stderr")};
    std::remove(path(".stdout").c_str());
    std::remove(path(".stderr").c_str());
    return result;
  }

  // Runs a client through the shell in the temporary directory; true when it exited with 0.
  // False, noting it in skipped_, when `program` is not installed (none is under Wine). `out`
  // gets what it printed.
  bool client(const std::string& program, const std::string& arguments, std::string& out) {
    out.clear();
    if (platform::kWindows || std::system(("command -v " + program + " >/dev/null").c_str()) != 0) {
      skipped_ += program + " ";
      return false;
    }
    const int status = std::system(
        ("cd '" + dir_ + "' && " + program + " " + arguments + " >.client 2>&1").c_str());
    out = read(".client");
    std::remove(path(".client").c_str());
    return status == 0;
  }
  // When the client ran, expects it to have printed `expected`.
  void expect_client(const std::string& program, const std::string& arguments,
                     const std::string& expected) {
    std::string out;
    if (client(program, arguments, out) || !out.empty()) {
      EXPECT_EQ(out, expected) << arguments;
    }
  }

  std::string dir_;
  std::string skipped_;
  std::string program_ = PINREEL_BINARY_PATH;
  platform::RunOptions options_;
};

}  // namespace e2e
