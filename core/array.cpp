#include "core/array.h"

#include <new>
#include <utility>

#include "core/heap.h"
#include "core/value.h"

namespace qef {

int32_t GrownCapacity(int32_t size, int32_t capacity, int32_t n, int32_t grow_step) {
  int32_t step = grow_step;
  if (step == 0) {
    step = size / 8;
    if (step < 4) step = 4;
    if (step > 1024) step = 1024;
  }
  int64_t grown = static_cast<int64_t>(capacity) + step;
  if (grown < n) grown = n;
  if (grown > INT32_MAX) grown = n;
  return static_cast<int32_t>(grown);
}

namespace {

// Blocks are counted in elements; a count whose byte size overflows cannot be had.
void* AllocElements(int32_t count, size_t element_size) {
  if (count <= 0) return nullptr;
  uint64_t bytes = static_cast<uint64_t>(count) * element_size;
  if (bytes > SIZE_MAX / 2) return nullptr;
  return HeapBlockAlloc(static_cast<size_t>(bytes));
}

}  // namespace

// ---- IntArray ----

IntArray::~IntArray() { SetSize(0); }

bool IntArray::SetSize(int32_t n, int32_t step) {
  if (step != -1) grow_step_ = step;
  if (n < 0) n = 0;
  if (n == 0) {
    HeapBlockFree(elements_);
    elements_ = nullptr;
    size_ = capacity_ = 0;
    return true;
  }
  if (elements_ == nullptr) {
    auto* block = static_cast<int32_t*>(AllocElements(n, sizeof(int32_t)));
    if (block == nullptr) return false;
    for (int32_t i = 0; i < n; ++i) block[i] = 0;
    elements_ = block;
    size_ = capacity_ = n;
    return true;
  }
  if (n <= capacity_) {
    for (int32_t i = size_; i < n; ++i) elements_[i] = 0;
    size_ = n;
    return true;
  }
  int32_t cap = GrownCapacity(size_, capacity_, n, grow_step_);
  auto* block = static_cast<int32_t*>(AllocElements(cap, sizeof(int32_t)));
  if (block == nullptr) return false;
  for (int32_t i = 0; i < size_; ++i) block[i] = elements_[i];
  for (int32_t i = size_; i < n; ++i) block[i] = 0;
  HeapBlockFree(elements_);
  elements_ = block;
  size_ = n;
  capacity_ = cap;
  return true;
}

// ---- ValueArray ----

ValueArray::~ValueArray() { SetSize(0); }

bool ValueArray::SetSize(int32_t n, int32_t step) {
  if (step != -1) grow_step_ = step;
  if (n < 0) n = 0;
  if (n == 0) {
    for (int32_t i = 0; i < size_; ++i) elements_[i].~Value();
    HeapBlockFree(elements_);
    elements_ = nullptr;
    size_ = capacity_ = 0;
    return true;
  }
  if (elements_ == nullptr) {
    auto* block = static_cast<Value*>(AllocElements(n, sizeof(Value)));
    if (block == nullptr) return false;
    for (int32_t i = 0; i < n; ++i) new (&block[i]) Value();
    elements_ = block;
    size_ = capacity_ = n;
    return true;
  }
  if (n <= capacity_) {
    for (int32_t i = size_; i < n; ++i) new (&elements_[i]) Value();
    for (int32_t i = n; i < size_; ++i) elements_[i].~Value();
    size_ = n;
    return true;
  }
  int32_t cap = GrownCapacity(size_, capacity_, n, grow_step_);
  auto* block = static_cast<Value*>(AllocElements(cap, sizeof(Value)));
  if (block == nullptr) return false;
  // Relocation: each value's owned storage moves with it, nothing is copied deeply.
  for (int32_t i = 0; i < size_; ++i) {
    new (&block[i]) Value(std::move(elements_[i]));
    elements_[i].~Value();
  }
  for (int32_t i = size_; i < n; ++i) new (&block[i]) Value();
  HeapBlockFree(elements_);
  elements_ = block;
  size_ = n;
  capacity_ = cap;
  return true;
}

int32_t ValueArray::Append(const Value& value) {
  Value copy(value);
  return AppendMove(copy);
}

int32_t ValueArray::AppendMove(Value& value) {
  if (!SetSize(size_ + 1)) return -1;
  elements_[size_ - 1] = std::move(value);
  return size_ - 1;
}

bool ValueArray::AssignFrom(const ValueArray& other) {
  SetSize(0);
  for (int32_t i = 0; i < other.size_; ++i)
    if (Append(other.elements_[i]) < 0) return false;
  return true;
}

}  // namespace qef
