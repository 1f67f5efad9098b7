// JPEG decoding and encoding of 8-bit RGB images (libjpeg-turbo's TurboJPEG API).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 3 bytes, rows top to bottom
};

class JpegError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws JpegError with the codec's message when the bytes are not a JPEG image.
RgbImage DecodeJpeg(const std::string& bytes);
std::string EncodeJpeg(const RgbImage& image, int quality);
