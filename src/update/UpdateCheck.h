// The update check as the editor drives it: a background thread downloads the
// version record file and reports in a message box. At most one check runs per
// editor. Windows only (the functions are defined in the Windows build); the
// handles are kept as void* so that including this needs no system headers.
#pragma once

#include <memory>

struct UpdateCheckJob;

// One per editor, all empty until the first check. Used on the editor's thread only.
struct UpdateCheckState {
    void* ownerWindow = nullptr;         // HWND given to the last started check
    void* threadHandle = nullptr;        // HANDLE of the last started check thread
    std::shared_ptr<UpdateCheckJob> job; // what that thread shares with the editor
};

// Editor's thread, on the update button. Starts a check whose message box is
// owned by ownerWindow, unless the last check is still running, in which case
// nothing happens. Returns at once; the network and the message box run on
// the check's own thread. Allocates.
void startUpdateCheck(UpdateCheckState& state, void* ownerWindow);

// Editor's thread, when the editor is destroyed. Never waits: a check still
// downloading is abandoned (it finishes on its own and shows nothing), a
// message box already on screen stays until the user answers it, and the
// thread handle is released. The state is empty afterwards. The thread holds
// its own reference to the library, so unloading cannot pull code from under it.
void abandonUpdateCheck(UpdateCheckState& state);
