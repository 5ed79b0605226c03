// The pixels a package image's texture gets, as the context can hold them.
// A context may lack textures whose sides are not powers of two (OpenGL 1.x
// without GL_ARB_texture_non_power_of_two), and may cap a texture's side
// (Windows' "GDI Generic" renderer: 1024). The image then goes into a
// power-of-two texture, and is first halved until it fits the cap; the
// window draws it at its layout size either way.
#pragma once

#include "package/texture.h"

namespace iap {

struct TextureImage {
    DecodedImage pixels;
    // Texture coordinates of the image's bottom-right corner in pixels.
    float uvRight = 1.0f;
    float uvBottom = 1.0f;
};

// Halves the image (each pixel the mean of a 2 x 2 block; an odd last row
// or column is kept as it is averaged with itself) until neither side
// exceeds maxSide (0: no cap). Without anyTextureSize the result sits in
// the top-left corner of a power-of-two image, its last column and row
// repeated into the rest, so that filtering at its edges sees the edge.
TextureImage textureImage(DecodedImage&& image, bool anyTextureSize, int maxSide);

}  // namespace iap
