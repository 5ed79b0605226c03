// The GL of the window's context and the Dear ImGui renderer drawn with it.
// OpenGL 3.0 or newer with every entry point of the OpenGL3 back-end: that
// back-end (shaders, buffers). Less, down to OpenGL 1.1 (Windows' "GDI
// Generic" renderer on virtual machines and over Remote Desktop): the OpenGL2
// back-end, which draws the same window through OpenGL 1.1 calls only.
#pragma once

#include <string>

struct ImDrawData;

namespace iap {

enum class GlRenderer { OpenGL3, OpenGL2 };

struct GlContextFacts {
    std::string version;   // GL_VERSION
    std::string renderer;  // GL_RENDERER
    int major = 0;
    int minor = 0;
    GlRenderer backEnd = GlRenderer::OpenGL2;
    // Textures of any size (OpenGL 2.0, or GL_ARB_texture_non_power_of_two);
    // without, package images go into power-of-two textures.
    bool anyTextureSize = false;
    // GL_MAX_TEXTURE_SIZE (1024 on "GDI Generic"): larger images are halved
    // until they fit; 0 when the context does not say.
    int maxTextureSize = 0;
    // Why the context cannot draw the window ("" when it can).
    std::string failure;
};

// Reads the context current on this thread. missingOpenGL3 names the
// OpenGL3 back-end's entry points the context lacks ("" when none does).
GlContextFacts inspectCurrentGl(const std::string& missingOpenGL3);

// The chosen back-end's calls, one for each step of the frame.
bool initRenderer(GlRenderer backEnd);
void rendererNewFrame(GlRenderer backEnd);
void renderDrawData(GlRenderer backEnd, ImDrawData* drawData);
void shutdownRenderer(GlRenderer backEnd);

}  // namespace iap
