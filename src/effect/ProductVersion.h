// The release's version, in the one place everything else takes it from: the
// vendor version the effect reports to hosts, the Windows version resource of
// the DLLs, the build's project version and the release archives' names. Plain
// macros, so that the resource compiler can read this file too.
#pragma once

#define GRINDLEMARK_VERSION_MAJOR 1
#define GRINDLEMARK_VERSION_MINOR 0
#define GRINDLEMARK_VERSION_PATCH 0
#define GRINDLEMARK_VERSION_TEXT "1.0.0"

// Identity texts shown in a DLL's properties; the same the effect reports.
#define GRINDLEMARK_VENDOR_TEXT "OVK"
#define GRINDLEMARK_PRODUCT_TEXT "OVK Grindlemark"

#ifndef RC_INVOKED
#include <cstdint>

// The unique ID 'Qm4T', its first character in the most significant byte: what
// VST2 hosts know the plug-in by and what the update check asks about.
constexpr std::int32_t kBoosterUniqueId =
    static_cast<std::int32_t>(static_cast<std::uint32_t>('Q') << 24 | static_cast<std::uint32_t>('m') << 16 |
                              static_cast<std::uint32_t>('4') << 8 | static_cast<std::uint32_t>('T'));

// On the vendor-version scale hosts and the update record use: 1.0.0 is 1000.
constexpr int kBoosterVendorVersion =
    GRINDLEMARK_VERSION_MAJOR * 1000 + GRINDLEMARK_VERSION_MINOR * 100 + GRINDLEMARK_VERSION_PATCH;
static_assert(GRINDLEMARK_VERSION_MINOR < 10 && GRINDLEMARK_VERSION_PATCH < 100,
              "the vendor-version scale has one digit for the minor and two for the patch version");
#endif
