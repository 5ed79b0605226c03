// stb_image, built here (not Debian's compiled copy) so that its allocations
// go through the decode budget. Only decoding from memory is needed.
#include "package/decode_budget.h"

#define STBI_MALLOC(size) iap::budgetMalloc(size)
#define STBI_REALLOC(block, size) iap::budgetRealloc(block, size)
#define STBI_FREE(block) iap::budgetFree(block)
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
