// A cap on what one image decode may allocate. stb_image is built with the
// allocation functions below: while a DecodeBudget is alive on a thread,
// every allocation of that thread is counted against it, and one that would
// pass the limit fails (stb_image then gives up on the image).
#pragma once

#include <cstddef>

namespace iap {

class DecodeBudget {
public:
    explicit DecodeBudget(size_t limit);
    ~DecodeBudget();
    DecodeBudget(const DecodeBudget&) = delete;
    DecodeBudget& operator=(const DecodeBudget&) = delete;

    size_t peak() const { return peak_; }

    // Used by the allocation functions.
    bool take(size_t bytes);
    void give(size_t bytes);

private:
    DecodeBudget* previous_;
    size_t limit_;
    size_t used_ = 0;
    size_t peak_ = 0;
};

void* budgetMalloc(size_t bytes);
void* budgetRealloc(void* block, size_t bytes);
void budgetFree(void* block);

}  // namespace iap
