// Builds without libsndfile (the Windows tool) render nothing.
#include "RenderJobs.h"

int runRenderJobs(PluginModule& /*module*/, const std::vector<RenderJob>& /*jobs*/, const BatchOptions& /*options*/)
{
    throw CommandError(kUsage, "this build of the host tool cannot read or write audio files");
}
