// System error codes the domain tests by meaning. The Linux and simulated
// backends speak errno; the Windows backend speaks GetLastError codes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace platform {

#ifdef _WIN32
constexpr uint32_t ErrorDeviceGone = 1167;   // ERROR_DEVICE_NOT_CONNECTED
constexpr uint32_t ErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE
constexpr uint32_t ErrorWrongDisk = 1006;    // ERROR_FILE_INVALID: the volume changed under the handle
constexpr uint32_t ErrorNoMedium = 21;       // ERROR_NOT_READY
#else
constexpr uint32_t ErrorDeviceGone = ENXIO;
constexpr uint32_t ErrorNoSuchDevice = ENODEV;
constexpr uint32_t ErrorWrongDisk = ESTALE;
constexpr uint32_t ErrorNoMedium = ENOMEDIUM;
#endif

// Memory for unbuffered reads; the Windows C runtime has no aligned_alloc.
inline void* AlignedAlloc(size_t alignment, size_t size) {
#ifdef _WIN32
    return _aligned_malloc(size, alignment);
#else
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}

inline void AlignedFree(void* p) {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

}  // namespace platform
