// Status numbers of the picture object. 0 is success; 32768 is what Iconize
// has always answered for "no picture" and "no memory for the new size"; the
// numbers above it are this layer's own, one per kind of failure a page can
// act on. Pages compare them by value, so they never change.
#pragma once

#include <cstdint>

namespace kestle::image {

enum ImageStatus : int32_t {
    image_ok = 0,
    image_no_picture = 32768,      // no picture loaded, or a target size that is not usable
    image_cannot_open = 32769,     // the file does not exist or cannot be read
    image_unknown_format = 32770,  // no decoder knows the file's format
    image_corrupt = 32771,         // the picture data is damaged or cut off
    image_too_large = 32772,       // over 100 megapixels or a side over 65535
    image_out_of_memory = 32773,   // no memory for the decoded pixels
    image_cannot_create = 32774,   // the destination file cannot be created or written
    image_no_codecs = 32775,       // the imaging component (the decoders) cannot be created
};

}  // namespace kestle::image
