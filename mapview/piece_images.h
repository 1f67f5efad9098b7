// The images of the map view: tiles decoded at a reduced size, overview pieces composed from
// tiles or from the pieces one level down, and their JPEG encoding.
#pragma once

#include <string>

#include <QColor>
#include <QImage>

#include "mapview/view_geometry.h"

namespace mapview {

// What a piece shows where it has no tile.
inline const QColor kNoTileColour(58, 63, 68);

// The largest side of an image taken as a tile. Larger ones, whatever their file size, are not
// decoded: their pixels could take hundreds of megabytes and minutes on every loader thread.
inline constexpr int kMaxTileSide = 512;

// A tile decoded at side by side pixels (the JPEG decoder scales by 1/2, 1/4, 1/8 itself); a null
// image when the file is missing, not an image, or declares a size larger than a tile's.
QImage DecodeTile(const std::string& path, int side);
QImage DecodeTileBytes(const std::string& bytes, int side);
// The level-3 piece from the tiles of tileFolder at zoom.
QImage ComposeFirstLevel(const PieceKey& piece, const CellRect& area, const std::string& tileFolder, int zoom);
// A piece from its children's stored images (a child without a file is left blank).
QImage ComposeFromChildren(const PieceKey& piece, const CellRect& area,
                           const std::function<std::string(const PieceKey&)>& childFile);
std::string EncodeJpeg(const QImage& image);

}  // namespace mapview
