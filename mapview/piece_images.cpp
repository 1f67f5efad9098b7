// Decoding, composing and encoding the view's images with Qt's image classes.
#include "mapview/piece_images.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include "engine/tile_source.h"
#include "mapview/overview_plan.h"

namespace mapview {

namespace {

constexpr int kFirstLevelTiles = 1 << kFirstOverviewLevel;
constexpr int kTileSideInFirstLevel = kTilePixels / kFirstLevelTiles;

QImage EmptyPiece() {
  QImage image(kTilePixels, kTilePixels, QImage::Format_RGB32);
  image.fill(kNoTileColour);
  return image;
}

// The size is read from the image's header, before anything is decoded.
bool DeclaresTileSize(QImageReader& reader) {
  const QSize declared = reader.size();
  return declared.isValid() && !declared.isEmpty() && declared.width() <= kMaxTileSide &&
         declared.height() <= kMaxTileSide;
}

QImage DecodeFrom(QImageReader& reader, int side) {
  if (!DeclaresTileSize(reader)) return {};
  if (side != kTilePixels) reader.setScaledSize(QSize(side, side));
  QImage image = reader.read();
  if (!image.isNull() && image.size() != QSize(side, side)) {
    image = image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace

QImage DecodeTile(const std::string& path, int side) {
  QImageReader reader(QString::fromStdString(path));
  return DecodeFrom(reader, side);
}

QImage DecodeTileBytes(const std::string& bytes, int side) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  return DecodeFrom(reader, side);
}

QImage ComposeFirstLevel(const PieceKey& piece, const CellRect& area, const std::string& tileFolder, int zoom) {
  QImage image = EmptyPiece();
  QPainter painter(&image);
  const CellRect tiles = TilesOf(piece, area);
  for (int64_t y = tiles.y0; y < tiles.y1; ++y) {
    for (int64_t x = tiles.x0; x < tiles.x1; ++x) {
      const QImage tile = DecodeTile(
          tileFolder + SatelliteTileFileName(zoom, static_cast<int32_t>(x), static_cast<int32_t>(y)),
          kTileSideInFirstLevel);
      if (tile.isNull()) continue;
      painter.drawImage(static_cast<int>(x - piece.x * kFirstLevelTiles) * kTileSideInFirstLevel,
                        static_cast<int>(y - piece.y * kFirstLevelTiles) * kTileSideInFirstLevel, tile);
    }
  }
  return image;
}

QImage ComposeFromChildren(const PieceKey& piece, const CellRect& area,
                           const std::function<std::string(const PieceKey&)>& childFile) {
  QImage image = EmptyPiece();
  QPainter painter(&image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  constexpr int kHalf = kTilePixels / 2;
  for (const PieceKey& child : ChildrenOf(piece, area)) {
    const std::string file = childFile(child);
    if (file.empty()) continue;
    const QImage half = DecodeTile(file, kHalf);
    if (half.isNull()) continue;
    painter.drawImage(QRect(static_cast<int>(child.x - piece.x * 2) * kHalf,
                            static_cast<int>(child.y - piece.y * 2) * kHalf, kHalf, kHalf),
                      half);
  }
  return image;
}

std::string EncodeJpeg(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(85);
  if (!writer.write(image)) return {};
  return bytes.toStdString();
}

}  // namespace mapview
