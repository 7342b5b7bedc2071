#include "app/job.h"

#include "app/app_state.h"
#include "container/engine.h"
#include "core/heap.h"
#include "core/hold.h"
#include "core/progress.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

// The share of the bar that writing the container file takes; extracting takes the
// rest. Writing is a plain copy, far quicker than decrypting and writing the files.
const int32_t kWriteWeight = 10;
// A piece small enough that the bar moves and a cancel is seen within a moment on a
// slow disk, large enough that the copy costs no more than one write would.
const uint32_t kWritePiece = 1u << 20;
const int32_t kWriteScale = 1000;

void Feed(int32_t message, int32_t value) { JobProgress(message, value, 0, 0); }

// Copies the container into the open file in pieces, as part of the progress. 0;
// kCancelled once the user has cancelled; kShortWrite when the file takes less than
// all (a part written is as bad as nothing: the engine would read a cut container).
int32_t WriteContainerFile(AppState& app, HANDLE file) {
  const unsigned char* data = ContainerData(app);
  uint32_t length = ContainerLength(app);
  int32_t r = kOk;
  Feed(kProgressPhase, kWriteWeight);
  Feed(kProgressBegin, kWriteScale);
  for (uint32_t done = 0; r == kOk && done < length;) {
    DWORD piece = length - done < kWritePiece ? length - done : kWritePiece;
    DWORD written = 0;
    if (!WriteFile(file, data + done, piece, &written, nullptr) || written != piece) {
      r = kShortWrite;
      break;
    }
    done += piece;
    if (JobProgress(kProgressPosition, static_cast<int32_t>(static_cast<uint64_t>(done) * kWriteScale / length), 0,
                    0) == kCancelled)
      r = kCancelled;
    if (done < length) HoldPoint("container-file");
  }
  if (!CloseHandle(file) && r == kOk) r = kShortWrite;
  if (r == kOk && length == 0) r = kShortWrite;
  Feed(kProgressPhaseEnd, 0);
  Feed(kProgressPosition, kWriteWeight);
  return r;
}

}  // namespace

ExtractionJob::ExtractionJob(const Text& container, const Text& target, const char* password_text)
    : container_file(ToInternalForm(container)),
      target_folder(AddTrailingSeparator(ToInternalForm(target))),
      password(password_text) {}

int32_t ExtractionJob::Run() {
  ProgressCallback callback;
  callback.function = JobProgress;
  // A second thread decrypts and inflates the next chunks while this one writes files,
  // as the tool does, within the same bounded buffers.
  ExtractOptions options;
  options.decode_threads = 2;
  options.error = failure;
  options.new_target = new_target;
  options.replaced_other_spelling = other_spelling;
  ExtractEngine engine;
  return ExtractContainer(engine, container_file, password, target_folder, &callback, &options);
}

int32_t RunJob(const Text& container_file, const Text& target_folder, const char* password, ErrorInfo* failure,
               bool new_target, uint32_t* other_spelling) {
  if (container_file.IsEmpty()) return kOk;
  ExtractionJob job(container_file, target_folder, password);
  job.failure = failure;
  job.new_target = new_target;
  job.other_spelling = other_spelling;
  return job.Run();
}

int32_t JobProgress(int32_t message, int32_t value, uintptr_t, uintptr_t) {
  AppState& app = App();
  app.tracker.Feed(message, value);
  int32_t overall = app.tracker.GetOverall();
  if (overall > 100) overall = 100;
  {
    LockHolder hold(app);
    if (overall > app.progress) app.progress = overall;
  }
  return app.cancel == 1 ? kCancelled : 0;
}

DWORD WINAPI WorkerThread(void* password_buffer) {
  AppState& app = App();
  SecretBlock password(static_cast<char*>(password_buffer), kPasswordBufferSize);
  LONG run = app.run;
  HANDLE file = app.container_out;
  app.container_out = INVALID_HANDLE_VALUE;
  {
    LockHolder hold(app);
    app.busy = 1;
  }
  app.tracker.Reset();
  app.failure.Clear();
  app.other_spelling = 0;
  Feed(kProgressBegin, 100);
  int32_t result = WriteContainerFile(app, file);
  app.container_write = result;
  if (result == kOk) {
    Feed(kProgressPhase, 100 - kWriteWeight);
    Text target(app.target_folder);
    bool proposed = !app.proposed_target.IsEmpty() && target.Equals(app.proposed_target.Str());
    result = RunJob(app.container_file, target, password.Data(), &app.failure, proposed, &app.other_spelling);
    Feed(kProgressPhaseEnd, 0);
  }
  if (result == kOk) Feed(kProgressPosition, 100);
  // A name forgotten while its file is still there could not be retried at shutdown.
  if (RemoveFile(app.container_file) == kOk || !FileExists(app.container_file)) app.container_file = Text();
  HoldPoint("run-end");
  if (app.worker_done_window != nullptr)
    PostMessageA(app.worker_done_window, kWorkerEnded, static_cast<WPARAM>(run), 0);
  return static_cast<DWORD>(result);
}

}  // namespace qef
