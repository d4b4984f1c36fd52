// Test support for the data-side engine tests: a started context in a
// private directory, raw file access and little helpers to build headers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "support/isolated_env.h"

namespace table4test {

// A context started with the engine's defaults, in a private directory that
// is also the current directory for the test's lifetime.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[4096];
    oldCwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(0, chdir(env_.root().c_str()));
    ASSERT_EQ(0, code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1));
  }
  void TearDown() override {
    code4initUndo(&c4);
    (void)chdir(oldCwd_.c_str());
  }
  // Application settings of the portal (after code4init).
  void PortalSettings(int level = 30) {
    c4.failOpen = 0;
    c4.failCreate = 0;
    c4.keepExisting = 0;
    c4.formatLevel = static_cast<int16_t>(level);
  }
  std::string Path(const std::string& rel) const { return env_.path(rel); }
  std::string Read(const std::string& rel) const {
    return testsupport::IsolatedEnv::ReadFile(Path(rel));
  }
  void Write(const std::string& rel, const std::string& bytes) const { env_.WriteFile(rel, bytes); }

  testsupport::IsolatedEnv env_;
  std::string oldCwd_;
  CODE4 c4;
};

inline uint32_t Le16(const std::string& s, size_t at) {
  return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}
inline uint32_t Le32(const std::string& s, size_t at) {
  return Le16(s, at) | (Le16(s, at + 2) << 16);
}
inline uint32_t Be32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}
inline void PutLe32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>(v >> (8 * i));
}
inline void PutLe16(std::string* s, size_t at, uint32_t v) {
  (*s)[at] = static_cast<char>(v);
  (*s)[at + 1] = static_cast<char>(v >> 8);
}

// Text of a field with trailing blanks and zero bytes removed.
inline std::string FieldText(COLUMN4* f) {
  std::string s(f4ptr(f), f4len(f));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace table4test
