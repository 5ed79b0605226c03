#include "package/gl_texture.h"

#include "package/gl_api.h"
#include "package/texture_image.h"

namespace iap {

std::shared_ptr<ITexture> makeGlTexture(DecodedImage&& image, bool anyTextureSize, int maxSide) {
    const float width = static_cast<float>(image.width);
    const float height = static_cast<float>(image.height);
    const TextureImage img = textureImage(std::move(image), anyTextureSize, maxSide);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, img.pixels.width, img.pixels.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 img.pixels.rgba.data());
    auto texture = std::make_shared<ITexture>(static_cast<uintptr_t>(name), width, height, &releaseGlTexture);
    texture->uvRight = img.uvRight;
    texture->uvBottom = img.uvBottom;
    return texture;
}

void releaseGlTexture(uintptr_t textureId) {
    GLuint name = static_cast<GLuint>(textureId);
    glDeleteTextures(1, &name);
}

}  // namespace iap
