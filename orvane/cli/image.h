// The image a run sends: read once through the core's image-file functions
// for its size and SHA-256 before any port is opened, and weighed against
// the models' progress ranges.
#ifndef ORVANE_CLI_IMAGE_H
#define ORVANE_CLI_IMAGE_H

#include <cstdint>
#include <string>

struct ImageInfo
{
    std::string path;    // the file sent
    std::string name;    // what the log calls it
    uint64_t size = 0;
    std::string sha256;
};

// False with a reason when the image is missing, unreadable or empty, or
// when its digest is not --sha256's (*reasonCode says which).
bool InspectImage(const std::string& path, const std::string& sha256, ImageInfo* image, std::string* error,
                  std::string* reasonCode);

// The image is larger than the model's progress range (nModel's numbering;
// 0: any model's): the warning, or "".
std::string ImageTooLarge(const ImageInfo& image, int nModelNo);

#endif
