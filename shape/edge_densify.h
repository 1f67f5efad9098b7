// Turning a shape into degrees so that its edges stay straight in the coordinate system it was
// drawn in: an edge of a shape in metres (Web Mercator, UTM, a national grid) is a curve in degrees,
// so it gets vertices of its own wherever a straight edge in degrees would stray from it.
#pragma once

class OGRGeometry;
class OGRCoordinateTransformation;

enum class EdgeTransform { kDone, kNotTransformed, kAcross180 };

// Transforms g in place (a linear geometry: points, lines, polygons and collections of them).
// Every edge is split until each piece, straight in degrees, stays within kEdgeStrayTiles tiles of
// zoom kEdgeStrayZoom of the edge it stands for. kNotTransformed when a point cannot be
// transformed; kAcross180 when an edge crosses the 180th meridian (or goes round a pole), which
// no outline in degrees can follow.
EdgeTransform TransformAlongEdges(OGRGeometry& g, OGRCoordinateTransformation& toDegrees);

inline constexpr int kEdgeStrayZoom = 20;
inline constexpr double kEdgeStrayTiles = 1.0 / 16;
