#include "gl_loader.h"

#include <cstdint>
#include <cstring>

#include "win_gl.h"

extern "C" {
// Defined here: the back-end is built without its own loader (win_gl.h).
union GL3WProcs imgl3wProcs;
struct IapGlExtraProcs iap_gl_extra;
}

namespace iap::win {
namespace {

// Every entry point of the back-end's table, by member name. The
// static_assert below fails when another Dear ImGui version changes the
// table, so that this list is brought up to date with it.
#define IAP_IMGUI_GL_ENTRIES(X)                                                   \
    X(ActiveTexture) X(AttachShader) X(BindBuffer) X(BindSampler) X(BindTexture)  \
    X(BindVertexArray) X(BlendEquation) X(BlendEquationSeparate)                  \
    X(BlendFuncSeparate) X(BufferData) X(BufferSubData) X(Clear) X(ClearColor)    \
    X(CompileShader) X(CreateProgram) X(CreateShader) X(DeleteBuffers)            \
    X(DeleteProgram) X(DeleteShader) X(DeleteTextures) X(DeleteVertexArrays)      \
    X(DetachShader) X(Disable) X(DrawElements) X(DrawElementsBaseVertex)          \
    X(Enable) X(EnableVertexAttribArray) X(GenBuffers) X(GenTextures)             \
    X(GenVertexArrays) X(GetAttribLocation) X(GetError) X(GetIntegerv)            \
    X(GetProgramInfoLog) X(GetProgramiv) X(GetShaderInfoLog) X(GetShaderiv)       \
    X(GetString) X(GetStringi) X(GetUniformLocation) X(IsEnabled) X(LinkProgram)  \
    X(PixelStorei) X(PolygonMode) X(ReadPixels) X(Scissor) X(ShaderSource)        \
    X(TexImage2D) X(TexParameteri) X(Uniform1i) X(UniformMatrix4fv)               \
    X(UseProgram) X(VertexAttribPointer) X(Viewport)
#define IAP_EXTRA_GL_ENTRIES(X) X(BindFramebuffer) X(BlendFunc)

struct Entry {
    const char* name;
    void (*store)(GlProc);
    GlProc (*load)();
};

// Function pointers of different types convert through reinterpret_cast
// (GCC: -Wcast-function-type is about exactly this, and here it is meant).
template <typename To, typename From>
To castProc(From from) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    return reinterpret_cast<To>(from);
#pragma GCC diagnostic pop
}

#define IAP_ENTRY(table, member)                                                  \
    Entry{"gl" #member,                                                           \
          [](GlProc p) { table.member = castProc<decltype(table.member)>(p); },   \
          []() { return castProc<GlProc>(table.member); }},
#define IAP_IMGUI_ENTRY(member) IAP_ENTRY(imgl3wProcs.gl, member)
#define IAP_EXTRA_ENTRY(member) IAP_ENTRY(iap_gl_extra, member)

const Entry kEntries[] = {IAP_IMGUI_GL_ENTRIES(IAP_IMGUI_ENTRY)
                              IAP_EXTRA_GL_ENTRIES(IAP_EXTRA_ENTRY)};

#define IAP_COUNT(member) +1
static_assert(sizeof(imgl3wProcs.gl) == (0 IAP_IMGUI_GL_ENTRIES(IAP_COUNT)) * sizeof(GlProc),
              "Dear ImGui's GL table changed: update IAP_IMGUI_GL_ENTRIES");
static_assert(sizeof(iap_gl_extra) == (0 IAP_EXTRA_GL_ENTRIES(IAP_COUNT)) * sizeof(GlProc));

HMODULE openglModule() {
    // opengl32.dll is loaded already (wgl* are imported from it); this only
    // takes another reference, kept for the life of the process.
    static HMODULE module = LoadLibraryW(L"opengl32.dll");
    return module;
}

GlProc wglResolve(const char* name) { return castProc<GlProc>(wglGetProcAddress(name)); }

GlProc exportResolve(const char* name) {
    HMODULE module = openglModule();
    return module ? castProc<GlProc>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace

bool isWglFailure(GlProc proc) {
    const auto value = reinterpret_cast<std::intptr_t>(proc);
    return value == 0 || value == 1 || value == 2 || value == 3 || value == -1;
}

GlResolved resolveGl(const char* name, GlResolveFn wgl, GlResolveFn exported) {
    if (wgl) {
        GlProc proc = wgl(name);
        if (!isWglFailure(proc)) return {proc, GlSource::Wgl};
    }
    if (exported) {
        GlProc proc = exported(name);
        if (proc) return {proc, GlSource::Export};
    }
    return {};
}

GlLoadReport loadGl(GlResolveFn wgl, GlResolveFn exported) {
    GlLoadReport report;
    for (const Entry& entry : kEntries) {
        const GlResolved resolved = resolveGl(entry.name, wgl, exported);
        entry.store(resolved.proc);
        switch (resolved.source) {
        case GlSource::Wgl: ++report.fromWgl; break;
        case GlSource::Export: ++report.fromExports; break;
        case GlSource::None: report.missing.emplace_back(entry.name); break;
        }
    }
    return report;
}

GlLoadReport loadGl() { return loadGl(wglResolve, exportResolve); }

int glEntryCount() { return static_cast<int>(std::size(kEntries)); }

GlProc loadedGl(const char* name) {
    for (const Entry& entry : kEntries)
        if (std::strcmp(entry.name, name) == 0) return entry.load();
    return nullptr;
}

}  // namespace iap::win
