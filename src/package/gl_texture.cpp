#include "package/gl_texture.h"

#include "package/gl_api.h"

namespace iap {

std::shared_ptr<ITexture> makeGlTexture(DecodedImage&& image) {
    DecodedImage img = std::move(image);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, img.width, img.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 img.rgba.data());
    return std::make_shared<ITexture>(static_cast<uintptr_t>(name), static_cast<float>(img.width),
                                      static_cast<float>(img.height), &releaseGlTexture);
}

void releaseGlTexture(uintptr_t textureId) {
    GLuint name = static_cast<GLuint>(textureId);
    glDeleteTextures(1, &name);
}

}  // namespace iap
