// The update check as the editor drives it: a background thread downloads the
// version record file and reports in a dialog. At most one check runs per
// editor. Each platform defines these functions; the handles are kept as
// void* so that including this needs no system headers, and the check knows
// the plug-in only through the identity its caller gives it.
#pragma once

#include <cstdint>
#include <memory>

struct UpdateCheckJob;

// Who asks: the plug-in's unique ID and its vendor version (the version the
// record file is compared with).
struct UpdateIdentity {
    std::uint32_t uniqueId = 0;
    std::uint32_t vendorVersion = 0;
};

// One per editor, empty until the first check apart from the identity, which
// the editor sets before it starts one. Used on the editor's thread only.
struct UpdateCheckState {
    UpdateIdentity identity;
    void* ownerWindow = nullptr;         // the editor's window given to the last started check
    void* threadHandle = nullptr;        // Windows: HANDLE of the last started check thread
    std::shared_ptr<UpdateCheckJob> job; // what that thread shares with the editor
};

// Editor's thread, on the update button. Starts a check whose dialog belongs
// to ownerWindow (Windows: the HWND; X11: the Window id cast through
// std::uintptr_t), unless the last check is still running, in which case
// nothing happens. Returns at once; the network and the dialog run on the
// check's own thread. Allocates.
void startUpdateCheck(UpdateCheckState& state, void* ownerWindow);

// Editor's thread, when the editor is destroyed. Never waits: a check still
// downloading is abandoned (it finishes on its own and shows nothing), a
// dialog already on screen stays until the user answers it, and the thread
// handle is released. The state is empty afterwards but for the identity. The
// thread holds its own reference to the library, so unloading cannot pull
// code from under it.
void abandonUpdateCheck(UpdateCheckState& state);
