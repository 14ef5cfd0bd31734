#pragma once
// Menu commands beside the IT8 chart: the chart drawn from its reference file,
// XYZ to RGB, colour to grey by luminance, the capture times of RAW files.
#include <QStringList>
#include <functional>

class QAction;

namespace astrelon {

void ImportIt8ChartCommand(QAction* sender, int illuminant);
void BildvonXYZnachRGBwandeln1Click(QAction* sender);
void Timestampladen1Click(QAction* sender);

// Asks for files: one from the general open dialog, or (picture) several from
// the picture open dialog; empty when cancelled. Tests replace it.
extern std::function<QStringList(bool picture)> ChooseChartFiles;

void RegisterColourChartCommands();

}  // namespace astrelon
