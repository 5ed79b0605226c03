// Package images as GL textures, on a real (Mesa) GL context in a hidden
// window: no flip, linear filtering, and the texture deleted exactly when
// its last holder lets go. Skipped without a display.
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <vector>

#include "package/app_state.h"
#include "package/gl_texture.h"

namespace iap {
namespace {

class GlTexture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!glfwInit()) return;
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        window = glfwCreateWindow(16, 16, "gl test", nullptr, nullptr);
        if (window) glfwMakeContextCurrent(window);
    }
    static void TearDownTestSuite() {
        if (window) glfwDestroyWindow(window);
        glfwTerminate();
    }
    void SetUp() override {
        if (!window) GTEST_SKIP() << "no display for a GL context";
    }
    static DecodedImage image(int w, int h) {
        DecodedImage img{w, h, {}};
        for (int i = 0; i < w * h; ++i) {
            img.rgba.insert(img.rgba.end(), {static_cast<uint8_t>(i * 40), static_cast<uint8_t>(255 - i),
                                             static_cast<uint8_t>(i), static_cast<uint8_t>(i % 2 ? 128 : 255)});
        }
        return img;
    }
    static inline GLFWwindow* window = nullptr;
};

TEST_F(GlTexture, TheTopRowStaysOnTopAndAlphaIsKept) {
    DecodedImage img = image(3, 2);
    std::vector<uint8_t> expected = img.rgba;
    std::shared_ptr<ITexture> tex = makeGlTexture(std::move(img));
    ASSERT_TRUE(tex);
    EXPECT_FLOAT_EQ(tex->width, 3.0f);
    EXPECT_FLOAT_EQ(tex->height, 2.0f);
    GLuint name = static_cast<GLuint>(tex->textureId);
    EXPECT_TRUE(glIsTexture(name));
    GLint bound = 0, minFilter = 0, magFilter = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), name);  // left bound
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    std::vector<uint8_t> texels(expected.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(texels, expected);
}

TEST_F(GlTexture, ReplacingAnIdDeletesTheOldTextureOnceItsLastHolderLetsGo) {
    TextureMap map;
    map[3] = makeGlTexture(image(2, 2));
    GLuint first = static_cast<GLuint>(map[3]->textureId);
    std::shared_ptr<ITexture> holder = map[3];  // the screen still draws it
    map[3] = makeGlTexture(image(4, 4));
    GLuint second = static_cast<GLuint>(map[3]->textureId);
    EXPECT_NE(first, second);
    EXPECT_TRUE(glIsTexture(first));
    holder.reset();
    EXPECT_FALSE(glIsTexture(first));
    EXPECT_TRUE(glIsTexture(second));
    map.clear();
    EXPECT_FALSE(glIsTexture(second));
}

}  // namespace
}  // namespace iap
