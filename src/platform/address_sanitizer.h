// Whether this build runs under the address checker (AddressSanitizer, by
// GCC's or clang's flag). Code that caps or audits memory must know: the
// checker's shadow memory reserves terabytes of address space, and it can be
// asked directly whether anything leaked.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define VOXSCOPE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOXSCOPE_ADDRESS_SANITIZER 1
#endif
#endif
