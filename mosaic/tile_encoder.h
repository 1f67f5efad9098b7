// Made tiles encoded as the downloaded ones are: PNG keeps transparency, JPEG lays the tile over
// the fill colour.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "mosaic/tile_pyramid.h"

enum class TileImageKind { kJpeg, kPng };

// The kind of image the bytes hold, by their signature; false for neither.
bool TileImageKindOf(const std::string& bytes, TileImageKind& kind);
// The tile's encoded bytes; empty when the encoder failed.
std::string EncodeTile(const TileRgba& rgba, TileImageKind kind, std::array<uint8_t, 3> fill);
