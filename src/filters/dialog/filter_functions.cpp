#include "filters/dialog/filter_functions.h"

#include "core/funktion_defs.h"

namespace astrelon {

namespace {

struct TFunktionTable {
  std::array<TFilterFunktion, FunktionCount + 1> Entry;
  std::array<bool, FunktionCount + 1> Present{};
};

// The table, with the program's functions added before its first use.
TFunktionTable& Table() {
  static TFunktionTable t;
  static bool installed = false;
  if (!installed) {
    installed = true;
    InstallFilterFunktionen();
  }
  return t;
}

}  // namespace

void RegisterFilterFunktion(int nr, TFilterFunktion entry) {
  if (nr < 1 || nr > FunktionCount) return;
  TFunktionTable& t = Table();
  t.Entry[size_t(nr)] = std::move(entry);
  t.Present[size_t(nr)] = true;
}

const TFilterFunktion* FindFilterFunktion(int nr) {
  if (nr < 1 || nr > FunktionCount) return nullptr;
  TFunktionTable& t = Table();
  return t.Present[size_t(nr)] ? &t.Entry[size_t(nr)] : nullptr;
}

}  // namespace astrelon
