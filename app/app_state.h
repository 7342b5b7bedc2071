#pragma once
// The one application state of the stub, shared by the dialogs (main thread) and the
// worker thread. Only busy, cancel and progress are written while a worker runs; they
// are guarded by `lock`. Everything else is set up at start-up or touched by the
// dialog thread alone.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/error.h"
#include "core/progress.h"
#include "core/text.h"
#include "core/thread.h"
#include "sfx/payload.h"

namespace qef {

// The target folder buffer: at most 260 characters and a terminating zero.
const int kTargetFolderSize = 261;

struct AppState {
  HINSTANCE instance = nullptr;
  Mutex lock;
  char* target_folder = nullptr;                // kTargetFolderSize bytes, zero-filled
  Text proposed_target;                         // the folder the program proposed, as shown
  Text container_file;                          // the current run's container file, empty once it is gone
  HANDLE container_out = INVALID_HANDLE_VALUE;  // that file, open, handed to the worker to fill
  int32_t container_write = 0;                  // the worker's result of filling it, read once it has ended
  ErrorInfo failure;                            // the extraction's failure with its item, read once it has ended
  uint32_t other_spelling = 0;                  // files replaced under another spelling, read once it has ended
  std::vector<Text> stale_files;                // container files of earlier runs that could not be removed yet

  // The payload block as found at start-up; its texts are owned copies.
  PayloadView payload;
  int block_present = 0;  // 1 when the block has the full 44-byte header
  int intro_dialog = 0;   // resource id of the intro dialog
  HBITMAP picture = nullptr;

  // Shared with the worker thread.
  volatile LONG busy = 0;
  volatile LONG cancel = 0;
  volatile LONG progress = 0;  // overall progress 0..100
  HANDLE worker = INVALID_HANDLE_VALUE;
  HWND worker_done_window = nullptr;  // told with kWorkerEnded when the worker ends
  LONG run = 0;                       // counts the runs; set before the worker starts
  ProgressTracker tracker;            // used by the worker thread only
};

// Posted to worker_done_window as the worker's last act, with the run's number as its
// wparam, so that the dialog looks for the outcome at once instead of at its next
// progress tick. The dialog still reads the outcome from the thread itself; a message
// of an earlier run is known by its number.
const UINT kWorkerEnded = WM_APP + 1;

// The process-wide instance.
AppState& App();

// The container data of the payload block.
inline const unsigned char* ContainerData(const AppState& app) { return app.payload.container; }
inline uint32_t ContainerLength(const AppState& app) { return app.payload.container_length; }

// Holds the application lock for its own lifetime.
class LockHolder {
 public:
  explicit LockHolder(AppState& app) : hold_(app.lock) {}

 private:
  MutexLock hold_;
};

}  // namespace qef
