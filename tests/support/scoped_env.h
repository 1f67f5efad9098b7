// An environment variable changed for a test's scope: its value before is put back at the end.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
 public:
  explicit ScopedEnv(std::string name) : name_(std::move(name)) {
    if (const char* value = std::getenv(name_.c_str())) before_ = value;
  }
  ScopedEnv(std::string name, const std::string& value) : ScopedEnv(std::move(name)) { Set(value); }
  ~ScopedEnv() { before_ ? Set(*before_) : Unset(); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const std::string& value) const { ::setenv(name_.c_str(), value.c_str(), 1); }
  void Unset() const { ::unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> before_;
};
