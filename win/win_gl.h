// OpenGL declarations for the Windows build, in place of <epoxy/gl.h>.
//
// Types, enums and entry points come from Dear ImGui 1.86's generated header
// imgui_impl_opengl3_loader.h, used for its declarations only: every glXxx
// name is a macro for a function pointer in the table imgl3wProcs. The
// OpenGL3 back-end is compiled with IMGUI_IMPL_OPENGL_LOADER_CUSTOM and this
// header forced in, so its own loader code (imgl3wInit) is never compiled;
// iap::win::load_gl() (gl_loader.h) fills the table instead, plus the few
// entry points the tool itself uses beyond the back-end's (IapGlExtraProcs).
//
// Never include <GL/gl.h> in the same file: its GL_VERSION_1_x guards would
// hide the typedefs below.
#pragma once

#include <imgui_impl_opengl3_loader.h>

// Entry points the tool calls that the back-end does not.
typedef void (APIENTRYP PFNGLBINDFRAMEBUFFERPROC)(GLenum target, GLuint framebuffer);
typedef void (APIENTRYP PFNGLBLENDFUNCPROC)(GLenum sfactor, GLenum dfactor);

#ifdef __cplusplus
extern "C" {
#endif
struct IapGlExtraProcs {
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
    PFNGLBLENDFUNCPROC BlendFunc;
};
extern struct IapGlExtraProcs iap_gl_extra;
#ifdef __cplusplus
}
#endif

#define glBindFramebuffer iap_gl_extra.BindFramebuffer
#define glBlendFunc iap_gl_extra.BlendFunc

// Enums the tool uses that the back-end's header leaves out.
#ifndef GL_VENDOR
#define GL_VENDOR 0x1F00
#endif
#ifndef GL_RENDERER
#define GL_RENDERER 0x1F01
#endif
#ifndef GL_DEPTH_BUFFER_BIT
#define GL_DEPTH_BUFFER_BIT 0x00000100
#endif
#ifndef GL_FRAMEBUFFER
#define GL_FRAMEBUFFER 0x8D40
#endif
#ifndef GL_MAX_TEXTURE_SIZE
#define GL_MAX_TEXTURE_SIZE 0x0D33
#endif
