#pragma once
// The hidden commands of the shift sharpening and the experimental filters:
// "Verschiebungs-schärfen", "Bildabhängiges V-Schärfen", "CFilter", "Text
// AA-Filter", "Filtercoeff berechnen", "upscale+vschärfen beste MSE
// ermitteln", "Radius iso Funktion" and "Teste Mag Verteilung".
#include <QString>
#include <optional>

class QAction;

namespace astrelon {

// A number typed into the input box `caption` / `prompt`, preset with `preset`;
// nullopt after Cancel or after a text that is no number (a message says so).
std::optional<double> AskRealNumber(const QString& caption, const QString& prompt, const QString& preset);

void VSchrfung1Click(QAction* sender);
void BildabhngigesVSchrfen1Click(QAction* sender);
void CFilter1Click(QAction* sender);
void extAAFilter1Click(QAction* sender);
void filterfinden(QAction* sender);
void dsincvschrfenbesteMSEermitteln1Click(QAction* sender);
void RadiusisoFunktion1Click(QAction* sender);
void esteVerschiebungsfindung1Click(QAction* sender);

void RegisterShiftCommands();

}  // namespace astrelon
