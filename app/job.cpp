#include "app/job.h"

#include "app/app_state.h"
#include "container/engine.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

ExtractionJob::ExtractionJob(const Text& container, const Text& target, const char* password_text)
    : container_file(ToInternalForm(container)),
      target_folder(AddTrailingSeparator(ToInternalForm(target))),
      password(password_text) {}

int32_t ExtractionJob::Run() {
  App().tracker.Reset();
  ProgressCallback callback;
  callback.function = JobProgress;
  ExtractEngine engine;
  return ExtractContainer(engine, container_file, password, target_folder, nullptr, nullptr, &callback);
}

int32_t RunJob(const Text& container_file, const Text& target_folder, const char* password) {
  if (container_file.IsEmpty()) return kOk;
  ExtractionJob job(container_file, target_folder, password);
  return job.Run();
}

int32_t JobProgress(int32_t message, int32_t value, uintptr_t, uintptr_t) {
  AppState& app = App();
  app.tracker.Feed(message, value);
  {
    LockHolder hold(app);
    app.progress = app.tracker.GetOverall();
  }
  return app.cancel == 1 ? kCancelled : 0;
}

DWORD WINAPI WorkerThread(void* password_buffer) {
  AppState& app = App();
  char* password = static_cast<char*>(password_buffer);
  {
    LockHolder hold(app);
    app.busy = 1;
  }
  int32_t result = RunJob(app.container_file, Text(app.target_folder), password);
  RemoveFile(app.container_file);
  app.container_file = Text();
  SecureWipe(password, kPasswordBufferSize);
  HeapBlockFree(password);
  return static_cast<DWORD>(result);
}

}  // namespace qef
