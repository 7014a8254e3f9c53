// The generated interface header, included after windows.h with its
// LoadImage macro removed, so IKestleImage::LoadImage keeps its own name.
#pragma once

#include <windows.h>
#undef LoadImage
#include "kestle.h"
