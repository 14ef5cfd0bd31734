// libFuzzer target for shift lists (".qvl"): every input is read; a list that
// is accepted is written and must read back to the same list, and the
// selection of its best images must end with at least one image kept. Built
// by fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "batch/inputs/shift_list_file.h"
#include "batch/inputs/shift_list_selection.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".qvl");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  TShiftListFile list;
  std::string error;
  if (!ReadShiftListFile(input, list, error)) return 0;
  std::string text;
  if (!FormatShiftList(list, text, error)) return 0;  // a name holding a line break
  TShiftListFile again;
  fuzz::Check(ParseShiftList(text, again, error), "written list read back");
  fuzz::Check(again.Names == list.Names && again.Qualities == list.Qualities && again.StarPairs == list.StarPairs &&
                  again.MarkPairs.size() == list.MarkPairs.size(),
              "list survives writing and reading");
  SelectBestImages(again, "37");
  fuzz::Check(again.Count() >= 1, "selection keeps an image");
  return 0;
}
