// Helpers of the SHA-256 and Base64 tests: hex text, reproducible bytes, a
// scratch folder, and the output of system tools run on it.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

template <typename Bytes>
std::string Hex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// The same bytes for the same seed on every run (xorshift64*).
inline std::vector<uint8_t> PseudoRandomBytes(size_t size, uint64_t seed) {
  std::vector<uint8_t> out(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : out) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    b = static_cast<uint8_t>((x * 0x2545F4914F6CDD1Dull) >> 56);
  }
  return out;
}

// A fresh folder under $TMPDIR, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "glint-signed.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
};

// Standard output of a shell command; the test fails when the command does.
inline std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run: " << command;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << "command failed: " << command;
  return output;
}

// "DIGEST  NAME" lines of sha256sum, by name.
inline std::map<std::string, std::string> Sha256sumLines(const std::string& output) {
  std::map<std::string, std::string> sums;
  std::istringstream lines(output);
  std::string digest, name;
  while (lines >> digest >> name) sums[name] = digest;
  return sums;
}
