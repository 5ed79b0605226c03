// Loads the OpenGL entry points of the Windows build (see win_gl.h).
//
// How an entry point is resolved: wglGetProcAddress(name) first, which is
// how Windows hands out everything past OpenGL 1.1 (and extensions), valid
// only for the context current on the calling thread; where it fails (it
// returns NULL, and some drivers 1, 2, 3 or -1, for the OpenGL 1.1
// functions), GetProcAddress on opengl32.dll, which exports exactly the
// OpenGL 1.1 functions. So: make the window's context current, call
// load_gl(), then ImGui_ImplOpenGL3_Init().
#pragma once

#include <string>
#include <vector>

namespace iap::win {

using GlProc = void (*)();
using GlResolveFn = GlProc (*)(const char* name);

enum class GlSource { None, Wgl, Export };

struct GlResolved {
    GlProc proc = nullptr;
    GlSource source = GlSource::None;
};

// True for the values wglGetProcAddress returns when it has no entry point.
bool isWglFailure(GlProc proc);

// wgl first, the DLL's export where wgl fails; either may be null.
GlResolved resolveGl(const char* name, GlResolveFn wgl, GlResolveFn exported);

struct GlLoadReport {
    int fromWgl = 0;
    int fromExports = 0;
    std::vector<std::string> missing;  // names found by neither
    bool ok() const { return missing.empty(); }
};

// Fills the whole table (the back-end's entry points and IapGlExtraProcs)
// through wglGetProcAddress and opengl32.dll. Needs a current context.
GlLoadReport loadGl();
// The same with other resolvers (tests).
GlLoadReport loadGl(GlResolveFn wgl, GlResolveFn exported);

// Number of entry points in the table and the one loaded for a name (null
// when unknown or not loaded).
int glEntryCount();
GlProc loadedGl(const char* name);

}  // namespace iap::win
