// The plug-in library's own module handle (an HINSTANCE on Windows), stored
// by the library's load-time hook before any instance exists and never
// cleared. Null where the platform has no such handle.
#pragma once

extern void* moduleInstance;
