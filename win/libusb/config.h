/* config.h for libusb-1.0 built with cmake/win_third_party.cmake for
 * x86_64-w64-mingw32: what libusb's configure would find for that target,
 * written down so that its autotools are not needed. */
#ifndef IAP_WIN_LIBUSB_CONFIG_H
#define IAP_WIN_LIBUSB_CONFIG_H

/* A static library inside our executable: nothing is exported. */
#define DEFAULT_VISIBILITY /**/

/* libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, ...) and LIBUSB_DEBUG work. */
#define ENABLE_LOGGING 1

#define PLATFORM_WINDOWS 1

/* mingw-w64 has <sys/time.h>; its <sys/types.h> declares the time types
 * libusb would otherwise declare itself. */
#define HAVE_SYS_TIME_H 1

/* As libusb's configure defines it for GCC. */
#define PRINTF_FORMAT(a, b) __attribute__((__format__(__printf__, a, b)))

/* The oldest Windows libusb supports is Vista; the build asks for 7. */
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#endif
