// Interrupts during a render: Ctrl-C, SIGTERM and SIGHUP end the tool as they
// would have, but only after every temporary output of an unfinished job is
// removed, so an interrupted batch leaves only the files of the jobs that had
// finished. A file-size limit (SIGXFSZ) becomes a write error the job reports.
#pragma once

#include <mutex>
#include <string>

// Starts watching, once per process, before the render's threads start: the
// three signals are held back in this thread and in every thread it starts
// later, and one thread of their own waits for them. Signals that the tool
// was started with ignored (nohup, a background job) stay ignored.
void watchRenderInterrupts();

// While held, an interrupt waits before it cleans up: create, rename or remove
// a temporary file and record that with the two calls below under it, so the
// cleanup sees either no file or a recorded one. Never held for long.
std::unique_lock<std::mutex> holdInterrupts();
void recordTemporaryFile(const std::string& path);
void forgetTemporaryFile(const std::string& path);
