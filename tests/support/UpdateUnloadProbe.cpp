// Stands in for the plug-in library in the unload test: it holds its own copy
// of the update check, starts a check when asked, and is then unloaded by the
// test while the check still runs.
#include "platform/Export.h"
#include "update/UpdateCheckPosix.h"

#include <unistd.h>

namespace {

UpdateCheckState probeState;
int reportDescriptor = -1;

// Runs on the check's thread after the test has unloaded this library, so
// reaching it at all shows that the code stayed mapped.
bool reportDialog(std::uintptr_t /*owner*/, const char* /*text*/, const char* /*caption*/, UpdateDialogKind /*kind*/)
{
    const char shown = 'd';
    if (write(reportDescriptor, &shown, 1) != 1)
        return false;
    return false;
}

} // namespace

// Starts a check against page that reports its dialog by writing 'd' to descriptor.
extern "C" PLUGIN_EXPORT void startProbeCheck(const char* page, int descriptor)
{
    reportDescriptor = descriptor;
    probeState.identity = {0x516D3454u, 1000};
    const UpdateCheckTestHooks hooks{&reportDialog, nullptr, page, nullptr};
    setUpdateCheckTestHooks(&hooks);
    startUpdateCheck(probeState, nullptr);
    setUpdateCheckTestHooks(nullptr);
}
