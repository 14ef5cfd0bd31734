#pragma once
// The figures each benchmark family declares: the names of its peers, one
// figure "<peer>_ratio" each (see peer_measure.h). The summary reads them
// through the programs' "--figures" option, so that a figure a run did not
// produce shows as missed. ASTRELON_FIGURES(BM_Family, "peer", ...) stands
// beside the family's registration.
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace astrelon::bench {

using TFigureList = std::vector<std::pair<std::string, std::vector<std::string>>>;

inline TFigureList& DeclaredFigures() {
  static TFigureList list;
  return list;
}

inline bool DeclareFigures(const char* family, std::initializer_list<const char*> peers) {
  DeclaredFigures().emplace_back(family, std::vector<std::string>(peers.begin(), peers.end()));
  return true;
}

}  // namespace astrelon::bench

#define ASTRELON_FIGURES(family, ...)                                  \
  [[maybe_unused]] static const bool family##_figures_declared = \
      ::astrelon::bench::DeclareFigures(#family, {__VA_ARGS__})
