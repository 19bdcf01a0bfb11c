// Marks a function as exported from the plug-in library. Windows builds name
// their exports in a module definition file instead; elsewhere the library is
// built with hidden visibility and only marked functions are seen.
#pragma once

#if defined(_WIN32)
#define PLUGIN_EXPORT
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif
