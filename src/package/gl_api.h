// The OpenGL declarations of the tool's own GL calls: libepoxy on Linux; on
// Windows the entry-point table that win/gl_loader.h fills (win/win_gl.h).
#pragma once

#ifdef _WIN32
#include <win_gl.h>
#else
#include <epoxy/gl.h>
#endif
