// Window-class names of the skinned controls: the module's file name followed
// by the control's suffix, so every library carrying the toolkit registers
// classes of its own. Portable.
#pragma once

#include <cstddef>

constexpr std::size_t kClassNameSize = 128;

// Writes into `name` (kClassNameSize bytes, always terminated) the text after
// the last backslash of `modulePath` (nothing when it has none) followed by
// `suffix`. When both do not fit, the file name is cut from its start so the
// suffix stays whole and the names of different controls stay distinct.
void buildWindowClassName(const char* modulePath, const char* suffix, char (&name)[kClassNameSize]);
