// The field texts for a range of tiles picked on a map: longitudes and latitudes that Start's
// checks accept and that give back exactly that range at that zoom.
#pragma once

#include <cstdint>
#include <string>

struct AreaTexts {
  std::string left, right, top, bottom, zoom;
};

// The latitudes the fields take reach 85 degrees north and south, short of the grid's 85.05:
// the rows of a zoom that the fields can name are those holding latitudes from -85 to 85.
struct RowSpan {
  int64_t first = 0, last = 0;
};
RowSpan NameableRows(int zoom);

// The columns minX..maxX and rows minY..maxY (inclusive) of a zoom, the rows first brought within
// NameableRows. Each edge is placed a thousandth of a tile inside the range (a latitude no further
// than 85 degrees), written with enough decimals to keep it there, so the texts name the
// rectangle drawn and no tile beside it.
AreaTexts TextsForTiles(int zoom, int64_t minX, int64_t minY, int64_t maxX, int64_t maxY);
