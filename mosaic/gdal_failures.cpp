// GDAL's messages collected through its per-thread handler stack: runs on other threads keep their own.
#include "mosaic/gdal_failures.h"

#include <cpl_error.h>

GdalFailures::GdalFailures() {
  CPLPushErrorHandlerEx([](CPLErr kind, CPLErrorNum number, const char* message) { Collect(kind, number, message); },
                        this);
}

GdalFailures::~GdalFailures() { CPLPopErrorHandler(); }

void GdalFailures::Collect(int kind, int, const char* message) {
  auto* self = static_cast<GdalFailures*>(CPLGetErrorHandlerUserData());
  if (kind == CE_Warning && self->warnings_.size() < 16) self->warnings_.emplace_back(message != nullptr ? message : "");
  if ((kind == CE_Failure || kind == CE_Fatal) && self->failure_.empty()) {
    self->failure_ = message != nullptr && *message != '\0' ? message : "failed";
  }
}

bool GdalFailures::WarnedWith(const std::string& prefix) const {
  for (const std::string& warning : warnings_) {
    if (warning.rfind(prefix, 0) == 0) return true;
  }
  return false;
}
