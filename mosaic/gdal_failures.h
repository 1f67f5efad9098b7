// GDAL's errors and warnings on this thread, collected instead of printed while an instance lives.
#pragma once

#include <string>
#include <vector>

class GdalFailures {
 public:
  GdalFailures();
  ~GdalFailures();
  GdalFailures(const GdalFailures&) = delete;
  GdalFailures& operator=(const GdalFailures&) = delete;

  bool AnyFailure() const { return !failure_.empty(); }
  const std::string& FirstFailure() const { return failure_; }
  // Whether a warning began with prefix (GDAL's drivers name the library that warned).
  bool WarnedWith(const std::string& prefix) const;

 private:
  static void Collect(int kind, int number, const char* message);

  std::string failure_;
  std::vector<std::string> warnings_;
};
