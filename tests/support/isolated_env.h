// Test support: gives a test a private environment. HOME, XDG_CONFIG_HOME,
// XDG_RUNTIME_DIR and TMPDIR point into a fresh directory that is removed
// afterwards, so the registry file, the window station and temporary files of
// one test never meet those of another test or of the user.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace testsupport {

class IsolatedEnv {
 public:
  IsolatedEnv() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "portal-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    root_ = made ? made : "";
    Save("HOME");
    Save("XDG_CONFIG_HOME");
    Save("XDG_RUNTIME_DIR");
    Save("TMPDIR");
    std::filesystem::create_directories(root_ + "/home/.config");
    std::filesystem::create_directories(root_ + "/run");
    std::filesystem::create_directories(root_ + "/tmp");
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/home/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
  }
  IsolatedEnv(const IsolatedEnv&) = delete;
  IsolatedEnv& operator=(const IsolatedEnv&) = delete;
  ~IsolatedEnv() {
    for (int i = 0; i < count_; ++i) {
      if (saved_[i].present)
        setenv(saved_[i].name, saved_[i].value.c_str(), 1);
      else
        unsetenv(saved_[i].name);
    }
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }

  // The private directory; everything of the test may live below it.
  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  // Writes `bytes` to root()/rel, making its directories.
  std::string WriteFile(const std::string& rel, const std::string& bytes) const {
    std::filesystem::path p = path(rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  static std::string ReadFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  struct Saved {
    const char* name;
    bool present;
    std::string value;
  };
  void Save(const char* name) {
    const char* v = getenv(name);
    saved_[count_++] = Saved{name, v != nullptr, v ? v : ""};
  }
  std::string root_;
  Saved saved_[4];
  int count_ = 0;
};

}  // namespace testsupport
