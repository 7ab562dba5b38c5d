#pragma once

// TESSARY_ASAN is defined in a build under AddressSanitizer, which reserves terabytes of shadow
// memory up front and checks for leaks when the process exits normally.
#if defined(__SANITIZE_ADDRESS__)
#define TESSARY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARY_ASAN 1
#endif
#endif
