// Package images as GL textures on a real (Mesa) context in a hidden window.
// Skipped without a display.
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include "package/app_state.h"
#include "package/gl_texture.h"

namespace iap {
namespace {

DecodedImage image(int w, int h) {
    DecodedImage img{w, h, {}};
    for (int i = 0; i < w * h; ++i)
        img.rgba.insert(img.rgba.end(), {static_cast<uint8_t>(i * 40), static_cast<uint8_t>(255 - i),
                                         static_cast<uint8_t>(i), static_cast<uint8_t>(i % 2 ? 128 : 255)});
    return img;
}

TEST(GlTexture, UploadedUnflippedWithAlphaAndLinearFiltersAndDeletedWithItsLastHolder) {
    if (!glfwInit()) GTEST_SKIP() << "no display for a GL context";
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(16, 16, "gl test", nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    glfwMakeContextCurrent(window);
    {
        DecodedImage img = image(3, 2);
        const std::vector<uint8_t> expected = img.rgba;
        TextureMap map;
        map[3] = makeGlTexture(std::move(img));
        EXPECT_FLOAT_EQ(map[3]->width, 3.0f);
        EXPECT_FLOAT_EQ(map[3]->height, 2.0f);
        const GLuint first = static_cast<GLuint>(map[3]->textureId);
        GLint bound = 0, minFilter = 0, magFilter = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), first);  // left bound
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        EXPECT_EQ(minFilter, GL_LINEAR);
        EXPECT_EQ(magFilter, GL_LINEAR);
        std::vector<uint8_t> texels(expected.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_EQ(texels, expected);  // top row first, alpha kept

        std::shared_ptr<ITexture> holder = map[3];  // the screen still draws it
        map[3] = makeGlTexture(image(4, 4));
        const GLuint second = static_cast<GLuint>(map[3]->textureId);
        EXPECT_TRUE(glIsTexture(first));
        holder.reset();
        EXPECT_FALSE(glIsTexture(first));
        map.clear();
        EXPECT_FALSE(glIsTexture(second));
    }
    glfwDestroyWindow(window);
    glfwTerminate();
}

}  // namespace
}  // namespace iap
