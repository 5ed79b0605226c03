// The window's texture maker: package images as OpenGL textures.
#pragma once

#include "package/texture.h"

namespace iap {

// Uploads the image as a 2D RGBA texture with linear filtering and leaves it
// bound. Call on the thread whose GL context is current. Without
// anyTextureSize (OpenGL 1.x lacking GL_ARB_texture_non_power_of_two) the
// texture's sides are powers of two, and an image larger than maxSide
// (GL_MAX_TEXTURE_SIZE; 0: no cap) is halved until it fits
// (texture_image.h); the texture's uvRight and uvBottom mark the image's
// corner, its width and height stay the image's own.
std::shared_ptr<ITexture> makeGlTexture(DecodedImage&& image, bool anyTextureSize = true, int maxSide = 0);

// Deletes one GL texture name (the release function of makeGlTexture's textures).
void releaseGlTexture(uintptr_t textureId);

}  // namespace iap
