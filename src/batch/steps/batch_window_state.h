#pragma once
// What the batch window keeps beside the steps and that the batch text reads
// and writes: the page and shift finding of the add-to-target step, the edge
// value, the "nach Timestamp" box, the all-files box, the drop list of input
// files and where the shift-list open dialog starts.
#include <string>
#include <vector>

namespace astrelon {

// Pages of the add-to-target step.
enum class TAddTargetPage { NormalComet, PlanetMoon, BayerSpecial };

struct TBatchWindowState {
  TAddTargetPage Page = TAddTargetPage::NormalComet;
  bool EdgeDetection = true;           // "Randerkennung", else "Kreuzkorrelation"
  std::string EdgeValue = "30.0";      // percent of white
  bool TimestampTicked = false;        // "nach Timestamp"
  bool AllFilesInFolder = false;       // "Alle Dateien im Ordner"
  std::vector<std::string> DropList;   // explicit input files
  std::string ShiftListFolder;         // ends in "/" (empty: the current folder)
  std::string ShiftListFileName;
};

extern TBatchWindowState BatchWindow;

}  // namespace astrelon
