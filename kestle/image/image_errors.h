// Status numbers of the picture object. 0 is success; 32768 is what Iconize
// has always answered for "no picture" and "no memory for the new size"; the
// numbers above it are this layer's own, one per kind of failure a page can
// act on. Pages compare them by value, so they never change. kestle.idl
// includes this file inside its library block, which puts the enum into the
// type library (see frame/typelib_names.h); in C++ it lives in namespace
// kestle::image.
#pragma once

#include "frame/typelib_names.h"

QK_SHARED_NAMES_BEGIN(kestle::image)

typedef QK_TYPELIB_HELP(
    "ImageStatus: what LoadImage, Iconize and SaveImage answer: 0 done; 32768 no picture loaded, or a size that cannot be used; 32769 the file cannot be opened; 32770 no decoder knows the format; 32771 the picture is damaged or cut off; 32772 over 100 megapixels or a side over 65535; 32773 no memory for the pixels; 32774 the destination cannot be written; 32775 the imaging component cannot be created") enum ImageStatus {
    image_ok = 0,
    image_no_picture = 32768,
    image_cannot_open = 32769,
    image_unknown_format = 32770,
    image_corrupt = 32771,
    image_too_large = 32772,
    image_out_of_memory = 32773,
    image_cannot_create = 32774,
    image_no_codecs = 32775,
} ImageStatus;

QK_SHARED_NAMES_END(kestle::image)
