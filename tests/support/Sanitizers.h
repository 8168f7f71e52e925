#pragma once

// Which sanitizer instruments this build, for the few tests whose measure a
// sanitizer's runtime changes (memory taken, time spent). GCC says so with a
// macro, clang through __has_feature.

#if defined(__has_feature)
#define TINDREL_HAS_FEATURE(x) __has_feature(x)
#else
#define TINDREL_HAS_FEATURE(x) 0
#endif

#if defined(__SANITIZE_THREAD__) || TINDREL_HAS_FEATURE(thread_sanitizer)
inline constexpr bool underThreadSanitizer = true;
#else
inline constexpr bool underThreadSanitizer = false;
#endif

#if defined(__SANITIZE_ADDRESS__) || TINDREL_HAS_FEATURE(address_sanitizer)
inline constexpr bool underAddressSanitizer = true;
#else
inline constexpr bool underAddressSanitizer = false;
#endif

#undef TINDREL_HAS_FEATURE
