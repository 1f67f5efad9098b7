// A geometry as GeoJSON text, written directly: every coordinate in its shortest form that reads
// back as the same double, so a shape kept in a file covers exactly the tiles it covered before,
// and no document tree of the whole shape is built in memory on the way.
#pragma once

#include <string>

class OGRGeometry;

std::string GeoJsonText(const OGRGeometry& geometry);
