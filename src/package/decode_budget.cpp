#include "package/decode_budget.h"

#include <cstdlib>
#include <cstring>

namespace iap {
namespace {

thread_local DecodeBudget* tl_budget = nullptr;

// Each block carries its size in front, so that realloc and free can give
// back what it took; the prefix keeps the block aligned for any type.
constexpr size_t kPrefix = alignof(std::max_align_t);

size_t sizeOf(void* block) {
    size_t size = 0;
    std::memcpy(&size, static_cast<char*>(block) - kPrefix, sizeof size);
    return size;
}

void* finish(void* raw, size_t bytes) {
    std::memcpy(raw, &bytes, sizeof bytes);
    return static_cast<char*>(raw) + kPrefix;
}

}  // namespace

DecodeBudget::DecodeBudget(size_t limit) : previous_(tl_budget), limit_(limit) { tl_budget = this; }

DecodeBudget::~DecodeBudget() { tl_budget = previous_; }

bool DecodeBudget::take(size_t bytes) {
    if (bytes > limit_ - used_) return false;
    used_ += bytes;
    if (used_ > peak_) peak_ = used_;
    return true;
}

void DecodeBudget::give(size_t bytes) { used_ = bytes > used_ ? 0 : used_ - bytes; }

void* budgetMalloc(size_t bytes) {
    if (bytes > static_cast<size_t>(-1) - kPrefix) return nullptr;
    if (tl_budget && !tl_budget->take(bytes)) return nullptr;
    void* raw = std::malloc(bytes + kPrefix);
    if (!raw) {
        if (tl_budget) tl_budget->give(bytes);
        return nullptr;
    }
    return finish(raw, bytes);
}

void* budgetRealloc(void* block, size_t bytes) {
    if (!block) return budgetMalloc(bytes);
    if (bytes > static_cast<size_t>(-1) - kPrefix) return nullptr;
    const size_t old = sizeOf(block);
    if (tl_budget && bytes > old && !tl_budget->take(bytes - old)) return nullptr;
    void* raw = std::realloc(static_cast<char*>(block) - kPrefix, bytes + kPrefix);
    if (!raw) {
        if (tl_budget && bytes > old) tl_budget->give(bytes - old);
        return nullptr;
    }
    if (tl_budget && bytes < old) tl_budget->give(old - bytes);
    return finish(raw, bytes);
}

void budgetFree(void* block) {
    if (!block) return;
    if (tl_budget) tl_budget->give(sizeOf(block));
    std::free(static_cast<char*>(block) - kPrefix);
}

}  // namespace iap
