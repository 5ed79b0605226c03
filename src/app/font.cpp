#include "app/font.h"

namespace iap {

const unsigned short* toolGlyphRanges() {
    static const unsigned short ranges[] = {
        0x0020, 0x00FF,  // Basic Latin, Latin-1 Supplement
        0x2000, 0x206F,  // General Punctuation
        0,
    };
    return ranges;
}

}  // namespace iap
