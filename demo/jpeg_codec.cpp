// TurboJPEG behind two functions; each call has its own codec handle, so threads never share one.
#include "demo/jpeg_codec.h"

#include <turbojpeg.h>

#include <memory>

namespace {

using Handle = std::unique_ptr<void, int (*)(tjhandle)>;

Handle MakeHandle(tjhandle raw) {
  if (raw == nullptr) throw JpegError("Cannot set up the JPEG codec");
  return Handle(raw, tjDestroy);
}

[[noreturn]] void Fail(tjhandle handle) { throw JpegError(tjGetErrorStr2(handle)); }

}  // namespace

RgbImage DecodeJpeg(const std::string& bytes) {
  Handle handle = MakeHandle(tjInitDecompress());
  auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorspace) != 0) {
    Fail(handle.get());
  }
  RgbImage image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  if (tjDecompress2(handle.get(), data, size, image.pixels.data(), width, 0, height, TJPF_RGB, 0) != 0) {
    Fail(handle.get());
  }
  return image;
}

std::string EncodeJpeg(const RgbImage& image, int quality) {
  Handle handle = MakeHandle(tjInitCompress());
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (tjCompress2(handle.get(), image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &out, &size,
                  TJSAMP_420, quality, 0) != 0) {
    tjFree(out);
    Fail(handle.get());
  }
  std::string bytes(reinterpret_cast<const char*>(out), size);
  tjFree(out);
  return bytes;
}
