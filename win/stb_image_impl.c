/* The Windows build compiles stb_image itself: Debian's libstb is a Linux
 * shared library, only its header (/usr/include/stb) is used here. Same
 * options as Debian's build (the defaults). */
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
