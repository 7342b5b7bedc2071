#include "core/progress.h"

namespace qef {

ProgressReport::ProgressReport(const ProgressCallback* callback)
    : callback_(callback), answer_(SendProgress(callback, kProgressBegin, 100)) {}

int32_t ProgressReport::SetProgress(int32_t position) {
  return answer_ = SendProgress(callback_, kProgressPosition, position);
}

int32_t ProgressReport::EndProgress() { return answer_ = SendProgress(callback_, kProgressEnd, 0); }

ProgressPhase::ProgressPhase(const ProgressCallback* callback, int32_t weight)
    : callback_(callback), answer_(SendProgress(callback, kProgressPhase, weight)) {}

int32_t ProgressPhase::EndPhase() { return answer_ = SendProgress(callback_, kProgressPhaseEnd, 0); }

void ProgressTracker::Reset() {
  overall_ = 0;
  depth_ = 0;
  position_ = 0;
  bases_.SetSize(0);
  weights_.SetSize(0);
  scales_.SetSize(0);
}

void ProgressTracker::Feed(int32_t message, int32_t value) {
  switch (message) {
    case kProgressBegin:
    case kProgressBeginAlt:
      if (scales_.GetSize() < depth_ + 1 && !scales_.SetSize(depth_ + 1)) return;
      scales_[depth_] = value != 0 ? value : 100;
      if (depth_ == 0) overall_ = 0;
      Feed(kProgressPosition, 0);
      break;
    case kProgressPhase:
      if (weights_.GetSize() < depth_ + 1 && !weights_.SetSize(depth_ + 1)) return;
      if (bases_.GetSize() < depth_ + 1 && !bases_.SetSize(depth_ + 1)) return;
      weights_[depth_] = value;
      bases_[depth_] = position_;
      ++depth_;
      break;
    case kProgressPosition: {
      position_ = value;
      int64_t v = value;
      for (int32_t k = depth_; k >= 1; --k) {
        int64_t scale = k < scales_.GetSize() && scales_[k] != 0 ? scales_[k] : 100;
        v = v * weights_[k - 1] / scale + bases_[k - 1];
      }
      overall_ = static_cast<int32_t>(v);
      break;
    }
    case kProgressPhaseEnd:
      // An end without a matching phase is ignored rather than making depth negative.
      if (depth_ > 0) --depth_;
      break;
    default: break;  // 105, 201 and unknown messages change nothing
  }
}

}  // namespace qef
