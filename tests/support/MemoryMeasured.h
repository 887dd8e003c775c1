// Whether a child's peak memory says what the program needs: not under the sanitizers, whose
// shadow memory and quarantine take far more.
#pragma once

#ifndef __has_feature
#define __has_feature(x) 0
#endif

namespace quarry::test {

#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer) || \
    defined(__SANITIZE_THREAD__) || __has_feature(thread_sanitizer)
inline constexpr bool kMemoryMeasured = false;
#else
inline constexpr bool kMemoryMeasured = true;
#endif

}  // namespace quarry::test
