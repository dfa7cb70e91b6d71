#include "orvane/cli/image.h"

#include "common/sha256.h"
#include "orvane/cli/options.h"
#include "orvane/installer/install.h"

namespace {

// The progress range the dialog sets for a model: 256 blocks of 1024 bytes
// for the MRQ-520W and MRQ-710F, 56 for the MRQ-41.
int ProgressBlocks(int nModelNo)
{
    return nModelNo == 2 ? 56 : 256;
}

} // namespace

bool InspectImage(const std::string& path, const std::string& sha256, ImageInfo* image, std::string* error,
                  std::string* reasonCode)
{
    *reasonCode = "image_unreadable";
    void* hImage = ImageOpen(path.c_str());
    if (hImage == NULL) {
        *error = "cannot open the image " + path + " (missing, not a file, or not readable)";
        return false;
    }
    image->path = path;
    image->size = ImageSize(hImage);
    orvane::Sha256 sha;
    BYTE abBlock[16384];
    uint64_t read = 0;
    int n;
    while ((n = ImageRead(hImage, abBlock, sizeof(abBlock))) > 0) {
        sha.update(abBlock, size_t(n));
        read += uint64_t(n);
    }
    ImageClose(hImage);
    image->sha256 = sha.hex();
    if (n < 0 || read != image->size) {
        *error = "cannot read the image " + path;
        return false;
    }
    if (image->size == 0) {
        *reasonCode = "image_empty";
        *error = "the image " + path + " is empty";
        return false;
    }
    if (!sha256.empty() && image->sha256 != sha256) {
        *reasonCode = "image_digest";
        *error = "the image " + path + " has SHA-256 " + image->sha256 + ", not " + sha256 + " (--sha256)";
        return false;
    }
    return true;
}

std::string ImageTooLarge(const ImageInfo& image, int nModelNo)
{
    std::string ranges;
    for (int n = 1; n <= 3; ++n) {
        const uint64_t blocks = uint64_t(ProgressBlocks(n));
        if ((nModelNo == 0 || nModelNo == n) && image.size > blocks * IMAGE_CHUNK)
            ranges += std::string(ranges.empty() ? "" : " and ") + "the " + ModelName(n) + "'s progress range (" +
                      std::to_string(blocks) + " blocks of 1024 bytes)";
    }
    if (ranges.empty())
        return std::string();
    return "the image (" + std::to_string(image.size) + " bytes) is larger than " + ranges;
}
