#pragma once
// One record type serves as a row of the batch operation table and as one step
// of a batch: the operation's name, up to four parameters (label and value as
// text), its single option and two numbers that some operations use.
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

// The operation of a step: 0 the file step, 1..43 an operation, -1 none.
using TBatchOp = int32_t;

constexpr int32_t BatchOperationCount = 43;
// A batch holds at most this many steps (the file step included).
constexpr int32_t MaxBatchSteps = 256;

struct bmenuitem {
  std::string Name;                   // German operation name
  std::array<std::string, 4> Labels;  // an empty label: the parameter does not exist
  std::array<std::string, 4> Values;  // as typed or read ("1.0", "*.qzf", a file name)
  // Caption of the option; in a step a non-empty caption means the option is on.
  std::string OptionCaption;
  // Operations 10 and 14: alignment marks (0, 1, 2, 3 = multipoint); operation 3:
  // the interpolation kind; -1 otherwise.
  int32_t MarksOrInterpolation = -1;
  // Bit 1: box function (op 3) or temperature compensation (op 11); bit 2: op 3
  // gives pixel counts instead of factors; bit 4: op 3 keeps the proportion and
  // takes the maximum values.
  int32_t OptionFlags = -1;

  bool operator==(const bmenuitem&) const = default;
};

}  // namespace astrelon
