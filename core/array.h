#pragma once
// Growable arrays with one growth rule: IntArray of 32-bit integers and ValueArray of
// values. Both keep their elements in one contiguous heap block that grows by a step
// following the current size, and is never shrunk while elements remain.
#include <cstdint>

namespace qef {

class Value;

// The capacity for n elements when a block of `capacity` must grow: the grow step, or
// when it is 0 size / 8 clamped to 4..1024; n if that is larger.
int32_t GrownCapacity(int32_t size, int32_t capacity, int32_t n, int32_t grow_step);

class IntArray {
 public:
  IntArray() = default;
  IntArray(const IntArray&) = delete;
  IntArray& operator=(const IntArray&) = delete;
  ~IntArray();

  // Exactly n elements (new ones 0); a step other than -1 becomes the grow step first.
  // false when a block could not be had (the array is then unchanged).
  bool SetSize(int32_t n, int32_t step = -1);
  int32_t GetSize() const { return size_; }
  int32_t GetCapacity() const { return capacity_; }
  int32_t& operator[](int32_t i) { return elements_[i]; }
  int32_t operator[](int32_t i) const { return elements_[i]; }

 private:
  int32_t* elements_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  int32_t grow_step_ = 0;
};

class ValueArray {
 public:
  ValueArray() = default;
  ValueArray(const ValueArray& other) { AssignFrom(other); }
  ValueArray& operator=(const ValueArray& other) {
    if (this != &other) AssignFrom(other);
    return *this;
  }
  ~ValueArray();

  // Exactly n elements: new ones Empty, dropped ones released. Growth moves the
  // existing values into the new block without copying what they own.
  // false when a block could not be had (the array is then unchanged).
  bool SetSize(int32_t n, int32_t step = -1);
  int32_t GetSize() const { return size_; }
  int32_t GetCapacity() const { return capacity_; }
  // Element access (0 <= i < size); defined with Value in core/value.h.
  Value& operator[](int32_t i);
  const Value& operator[](int32_t i) const;

  // Appends a deep copy; its index, or -1 when no room could be had.
  int32_t Append(const Value& value);
  // Appends by moving the value in (it is left Empty); its index, or -1.
  int32_t AppendMove(Value& value);
  // Deep copy of other's elements, in order. false when storage ran out part way.
  bool AssignFrom(const ValueArray& other);

 private:
  Value* elements_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  int32_t grow_step_ = 0;
};

}  // namespace qef
