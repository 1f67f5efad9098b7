// The words a finished map is reported with, the same in the window and on the command line.
#include "mosaic/mosaic_writer.h"

namespace {

std::string Counted(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Zooms(int from, int to) {
  return from == to ? "zoom " + std::to_string(from) : "zooms " + std::to_string(from) + "\u2013" + std::to_string(to);
}

std::string PackageText(const MosaicReport& r) {
  std::string text = "; " + Zooms(r.minZoom, r.maxZoom);
  if (r.madeMinZoom <= r.madeMaxZoom) {
    const bool one = r.madeMinZoom == r.madeMaxZoom;
    text += ", of which " + (one ? std::to_string(r.madeMinZoom) : std::to_string(r.madeMinZoom) + "\u2013" +
                                                                   std::to_string(r.madeMaxZoom)) +
            " made from the tiles below";
  }
  text += "; " + Counted(r.packed, "tile", "tiles") + " in the file";
  if (r.reencoded > 0) {
    const std::string other = r.packageFormat == "png" ? "JPEG" : "PNG";
    text += "; " + Counted(r.reencoded, (other + " tile").c_str(), (other + " tiles").c_str()) + " encoded as " +
            (r.packageFormat == "png" ? "PNG" : "JPEG") + ", the format of most tiles";
  }
  return text;
}

}  // namespace

std::string MosaicSummaryText(const MosaicReport& r) {
  std::string text = Counted(r.tiles, "tile", "tiles") + ", " + std::to_string(r.Filled()) + " filled (missing " +
                     std::to_string(r.missing) + ", blank " + std::to_string(r.blank) + ", not an image " +
                     std::to_string(r.undecodable) + ")";
  if (r.packed >= 0) text += PackageText(r);
  text += ".";
  for (const std::string& note : r.notes) text += " " + note;
  return text;
}
