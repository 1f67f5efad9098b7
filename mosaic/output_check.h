// Where a map may be written: never over a file the run reads or a file of the task or set it is
// made from, never inside a tile folder, and never over anything but a regular file or a link.
#pragma once

#include <string>
#include <vector>

#include "mosaic/mosaic_writer.h"

// The files a run writes or replaces for output in that format: the output, its missing-tile list,
// a PNG's or JPEG's world file, .prj and .aux.xml, and the hidden partial files of them all.
std::vector<std::string> FilesWrittenFor(const std::string& output, MosaicFormat format);

// Throws MosaicError, saying why, when a file the run writes for output is, or resolves to (through
// links or ".."), a file of a level's task or of the set, or the blank tile; when it lies inside a
// tile folder; or when it exists and is a folder, a device, a FIFO or a socket (a link is replaced,
// never followed). Nothing is written.
void CheckMosaicOutput(const MosaicLevels& levels, const std::string& output, const MosaicOptions& options);
