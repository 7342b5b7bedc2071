#pragma once
// One extraction run on the worker thread: the worker copies the container into its
// temporary file in pieces, then hands that file, the target folder and the password
// to the extraction engine. Both steps feed one progress, and the user's cancel stops
// either. The worker never touches a window: the decrypt dialog polls the shared state
// for the progress, and the worker only posts it one message when it ends.
#include <windows.h>

#include <cstdint>

#include "core/error.h"
#include "core/text.h"
#include "sfx/payload.h"

namespace qef {

// The password buffer handed to the worker thread, which wipes and frees it: the
// longest password the program reads and a terminating zero.
const int kPasswordBufferSize = kProgramPasswordMax + 1;

// Owned copies of the three texts of one run; the texts are wiped when it ends.
struct ExtractionJob {
  Text container_file;  // internal form
  Text target_folder;   // internal form, ending in '/'
  Text password;
  ErrorInfo* failure = nullptr;  // when given: the failure with the item it was about
  bool new_target = false;       // the program chose the folder: the run makes it new
  // When given: how many files the run made that a later item replaced under another
  // spelling of their path (names that differ only in case, where case is not told apart).
  uint32_t* other_spelling = nullptr;

  ExtractionJob(const Text& container, const Text& target, const char* password_text);
  int32_t Run();
};

// 0 at once for an empty container file name; otherwise the engine's result, and in
// `failure`, when given, what the failure was about. `new_target`: the folder is the
// one the program proposed, which the run makes itself and never reaches through a
// link (a folder the user typed is used as it is). `other_spelling`: as in ExtractionJob.
int32_t RunJob(const Text& container_file, const Text& target_folder, const char* password,
               ErrorInfo* failure = nullptr, bool new_target = false, uint32_t* other_spelling = nullptr);

// The engine's progress callback: feeds the tracker, publishes its overall value under
// the lock (never lower than before in the same run, so the bar only grows) and
// answers 40 once the user has cancelled.
int32_t JobProgress(int32_t message, int32_t value, uintptr_t user1, uintptr_t user2);

// Thread routine; its parameter is the password buffer, its exit code the result. It
// fills and closes app.container_out first (its result also goes to
// app.container_write), then extracts (a failure's context goes to app.failure, the
// files replaced under another spelling to app.other_spelling). It
// removes the container file when the job ends, whatever the result, and forgets the
// name only once the file is gone; then it posts kWorkerEnded with its run number to
// app.worker_done_window, when there is one.
DWORD WINAPI WorkerThread(void* password_buffer);

}  // namespace qef
