#include "app/gl_renderer.h"

#include "package/gl_api.h"
#include <imgui.h>
#include <imgui_impl_opengl2.h>
#include <imgui_impl_opengl3.h>

#include <cstdio>
#include <cstring>

namespace iap {
namespace {

std::string glText(GLenum name) {
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text ? text : "";
}

// Whether the space-separated list holds the name as a whole word.
bool listed(const std::string& list, const char* name) {
    const size_t n = std::strlen(name);
    for (size_t at = list.find(name); at != std::string::npos; at = list.find(name, at + 1)) {
        const bool starts = at == 0 || list[at - 1] == ' ';
        const bool ends = at + n == list.size() || list[at + n] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

}  // namespace

GlContextFacts inspectCurrentGl(const std::string& missingOpenGL3) {
    GlContextFacts gl;
    gl.version = glText(GL_VERSION);
    gl.renderer = glText(GL_RENDERER);
    // Desktop OpenGL's version string starts with "<major>.<minor>".
    if (std::sscanf(gl.version.c_str(), "%d.%d", &gl.major, &gl.minor) != 2 || gl.major < 1) {
        gl.failure = gl.version.empty() ? "the context gives no GL_VERSION"
                                        : "GL_VERSION \"" + gl.version + "\" is not desktop OpenGL";
        return gl;
    }
    gl.backEnd = gl.major >= 3 && missingOpenGL3.empty() ? GlRenderer::OpenGL3 : GlRenderer::OpenGL2;
    // OpenGL 2.0 made any size core; the extension list is read only below
    // 3.0, where the single string is still there.
    gl.anyTextureSize = gl.major >= 2 || listed(glText(GL_EXTENSIONS), "GL_ARB_texture_non_power_of_two");
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    gl.maxTextureSize = maxSize > 0 ? maxSize : 0;
    return gl;
}

bool initRenderer(GlRenderer backEnd) {
    return backEnd == GlRenderer::OpenGL3 ? ImGui_ImplOpenGL3_Init(nullptr) : ImGui_ImplOpenGL2_Init();
}

void rendererNewFrame(GlRenderer backEnd) {
    if (backEnd == GlRenderer::OpenGL3)
        ImGui_ImplOpenGL3_NewFrame();
    else
        ImGui_ImplOpenGL2_NewFrame();
}

void renderDrawData(GlRenderer backEnd, ImDrawData* drawData) {
    if (backEnd == GlRenderer::OpenGL3)
        ImGui_ImplOpenGL3_RenderDrawData(drawData);
    else
        ImGui_ImplOpenGL2_RenderDrawData(drawData);
}

void shutdownRenderer(GlRenderer backEnd) {
    if (backEnd == GlRenderer::OpenGL3)
        ImGui_ImplOpenGL3_Shutdown();
    else
        ImGui_ImplOpenGL2_Shutdown();
}

}  // namespace iap
