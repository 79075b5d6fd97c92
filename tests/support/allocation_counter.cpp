#include "tests/support/allocation_counter.hpp"

#include <cstdlib>
#include <new>

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define VELKAPHON_INTERPOSE 1
#include <linux/futex.h>
#include <sys/syscall.h>

#include <cstdarg>
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#else
#define VELKAPHON_INTERPOSE 0
#endif

namespace velkaphon::rack::testing {
namespace {

// Plain thread-locals of the program itself: reading them never allocates.
thread_local std::size_t allocationCount = 0;
thread_local std::size_t lockCount = 0;
thread_local std::size_t largestSize = 0;
thread_local bool counting = false;

#if VELKAPHON_INTERPOSE
void countLock() {
    if (counting) {
        ++lockCount;
    }
}
#endif

void countAllocation(std::size_t size) {
    if (counting) {
        ++allocationCount;
        largestSize = size > largestSize ? size : largestSize;
    }
}

void* allocate(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
#if !VELKAPHON_INTERPOSE
    countAllocation(size);
#endif
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    countAllocation(size);
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
#ifdef _WIN32
    void* memory = _aligned_malloc(rounded == 0 ? align : rounded, align);
#else
    void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded);
#endif
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void releaseAligned(void* memory) {
#ifdef _WIN32
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

} // namespace

AllocationCounter::AllocationCounter()
    : startAllocations_(allocationCount), startLocks_(lockCount), outerLargest_(largestSize),
      wasCounting_(counting) {
    counting = true;
    largestSize = 0;
}

AllocationCounter::~AllocationCounter() {
    counting = wasCounting_;
    largestSize = largestSize > outerLargest_ ? largestSize : outerLargest_;
}

std::size_t AllocationCounter::allocations() const {
    return allocationCount - startAllocations_;
}

std::size_t AllocationCounter::locks() const {
    return lockCount - startLocks_;
}

std::size_t AllocationCounter::largestAllocation() const {
    return largestSize;
}

bool AllocationCounter::interposes() {
    return VELKAPHON_INTERPOSE != 0;
}

} // namespace velkaphon::rack::testing

using velkaphon::rack::testing::allocate;
using velkaphon::rack::testing::allocateAligned;
using velkaphon::rack::testing::releaseAligned;

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(memory);
}

#if VELKAPHON_INTERPOSE

// glibc's own entry points, reached without dlsym so that the allocator never recurses.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);

void* malloc(std::size_t size) {
    velkaphon::rack::testing::countAllocation(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    velkaphon::rack::testing::countAllocation(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) {
    velkaphon::rack::testing::countAllocation(size);
    return __libc_realloc(memory, size);
}
}

namespace {

template <typename Function>
Function next(const char* name, const char* version = nullptr) {
    void* found = version != nullptr ? dlvsym(RTLD_NEXT, name, version) : dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        found = dlsym(RTLD_NEXT, name);
    }
    return reinterpret_cast<Function>(found);
}

bool isFutexWait(long operation) {
    switch (operation & FUTEX_CMD_MASK) {
    case FUTEX_WAIT:
    case FUTEX_WAIT_BITSET:
    case FUTEX_LOCK_PI:
    case FUTEX_WAIT_REQUEUE_PI:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* mutex) {
    static const auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    velkaphon::rack::testing::countLock();
    return real(mutex);
}

int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    static const auto real =
        next<int (*)(pthread_cond_t*, pthread_mutex_t*)>("pthread_cond_wait", "GLIBC_2.3.2");
    velkaphon::rack::testing::countLock();
    return real(condition, mutex);
}

int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                           const struct timespec* until) {
    static const auto real =
        next<int (*)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*)>(
            "pthread_cond_timedwait", "GLIBC_2.3.2");
    velkaphon::rack::testing::countLock();
    return real(condition, mutex, until);
}

int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
                           const struct timespec* until) {
    static const auto real =
        next<int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*)>(
            "pthread_cond_clockwait");
    velkaphon::rack::testing::countLock();
    return real(condition, mutex, clock, until);
}

int sem_wait(sem_t* semaphore) {
    static const auto real = next<int (*)(sem_t*)>("sem_wait");
    velkaphon::rack::testing::countLock();
    return real(semaphore);
}

// std::atomic::wait and other direct futex users come through here. The six words cover every
// system call's arguments on x86-64.
long syscall(long number, ...) {
    static const auto real = next<long (*)(long, ...)>("syscall");
    std::va_list list;
    va_start(list, number);
    long arguments[6];
    for (long& argument : arguments) {
        argument = va_arg(list, long);
    }
    va_end(list);
    if (number == SYS_futex && isFutexWait(arguments[1])) {
        velkaphon::rack::testing::countLock();
    }
    return real(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                arguments[5]);
}
}

#endif
