// The window's texture maker: package images as OpenGL textures.
#pragma once

#include "package/texture.h"

namespace iap {

// Uploads the image as a 2D RGBA texture with linear filtering and leaves it
// bound. Call on the thread whose GL context is current.
std::shared_ptr<ITexture> makeGlTexture(DecodedImage&& image);

// Deletes one GL texture name (the release function of makeGlTexture's textures).
void releaseGlTexture(uintptr_t textureId);

}  // namespace iap
