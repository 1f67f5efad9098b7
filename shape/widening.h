// Lines and points widened by a buffer in metres on the ground, in pieces of a few thousand
// vertices, each in an azimuthal equidistant projection about its own place, so memory and time
// grow with the track's length and not with how often it crosses itself.
#pragma once

#include <memory>

class OGRGeometry;
class OGRMultiLineString;
class OGRMultiPoint;

// Lines are simplified first with a tolerance of kSimplifiedShare of the buffer and widened by
// that much more: every point within the buffer of the line as recorded stays inside, at a small
// part of the vertices of a noisy track. The pieces are joined into one area (in degrees).
// Throws ShapeError when GEOS cannot widen or join them.
std::unique_ptr<OGRGeometry> Widened(const OGRMultiLineString& lines, const OGRMultiPoint& points, double metres);

inline constexpr double kSimplifiedShare = 0.05;
// Vertices of the line (as recorded) in one piece.
inline constexpr int kPieceVertices = 4096;
