// Helpers shared by the shell's tests on every platform: a private temporary
// folder and whole-file reads and writes. Paths are UTF-8 strings, as the
// shell's own classes take them, so a non-ASCII folder works on Windows too.
//
// Threading: tests use them on one thread.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace mq::testing {

namespace fs = std::filesystem;

inline fs::path PathFromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

inline std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// A new, empty folder in the system's temporary folder, removed with all
// its content at the end of the test.
struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& prefix = "mqshell.") {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
      std::ostringstream name;
      name << prefix << std::hex << random() << random();
      if (fs::create_directory(base / PathFromUtf8(name.str()))) {
        path = base / PathFromUtf8(name.str());
        return;
      }
    }
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string str() const { return Utf8(path); }
  std::string file(const std::string& name) const { return Utf8(path / PathFromUtf8(name)); }
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(PathFromUtf8(path), std::ios::binary) << text;
}

}  // namespace mq::testing
