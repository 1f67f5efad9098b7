// Download areas for the command line, read by quillmere-area beside this program, so that GDAL's
// libraries are loaded only when an area is used.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "download/download_controller.h"
#include "engine/task_area.h"

// A shape that cannot be used; what() is the reason to print.
class AreaRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The area of a vector file; its bounding box goes into the rectangle fields of inputs.
std::shared_ptr<const TaskArea> AreaFromFile(const std::string& file, double bufferMetres, StartInputs& inputs);
// The area a project or set file names; nullptr when it names none.
std::shared_ptr<const TaskArea> AreaOfProject(const std::string& projectOrSetFile);
