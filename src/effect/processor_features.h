#ifndef RINGWAVE_EFFECT_PROCESSOR_FEATURES_H_
#define RINGWAVE_EFFECT_PROCESSOR_FEATURES_H_

#include <cstdint>

// What the kernel reports about the processor this process runs on: the AT_HWCAP word of the
// auxiliary vector. Code for one processor class is chosen from it at start-up, never by
// trying an instruction.

constexpr unsigned long kAuxHwcap = 16;         // AT_HWCAP
constexpr std::uint32_t kHwcapNeon = 1u << 12;  // 32-bit ARM: Advanced SIMD (NEON)

// AT_HWCAP of this process: from getauxval where the C library has it, else from
// /proc/self/auxv (uClibc-ng has no getauxval). 0 when neither says anything (no /proc
// mounted): then no optional feature is used. Asked once, at start-up.
std::uint32_t processorHwcap();

// The AT_HWCAP value in a file laid out as the kernel writes an auxiliary vector (pairs of
// native words, type then value, up to a type 0; /proc/self/auxv). 0 when the file cannot be
// read or has no AT_HWCAP entry before its end, its type 0 or its first 4 KiB.
std::uint32_t hwcapFromAuxvFile(const char* path);

#endif  // RINGWAVE_EFFECT_PROCESSOR_FEATURES_H_
