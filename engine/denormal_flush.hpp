#pragma once

#include <pmmintrin.h>
#include <xmmintrin.h>

namespace velkaphon::rack {

// [audio] Flush-to-zero and denormals-are-zero for the life of the object, then the
// previous floating-point mode again, so decaying filters and gains do not slow a block.
class DenormalFlushScope {
public:
    static constexpr unsigned int kFlushBits = _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON;
    static_assert(kFlushBits == 0x8040);

    // Reading or writing the mode costs far more than the arithmetic around it: a host that
    // flushes already skips both writes, and one that does not gets its word back unread.
    DenormalFlushScope() noexcept
        : saved_(_mm_getcsr()), written_((saved_ & kFlushBits) != kFlushBits) {
        if (written_) {
            _mm_setcsr(saved_ | kFlushBits);
        }
    }
    // A module may have changed the mode during the block: that too is undone.
    ~DenormalFlushScope() {
        if (written_ || _mm_getcsr() != saved_) {
            _mm_setcsr(saved_);
        }
    }
    DenormalFlushScope(const DenormalFlushScope&) = delete;
    DenormalFlushScope& operator=(const DenormalFlushScope&) = delete;

private:
    unsigned int saved_;
    bool written_;
};

} // namespace velkaphon::rack
