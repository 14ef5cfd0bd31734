#pragma once
// Menu commands that prepare the result slot of a tool of another part of the
// program and open its dialog: deconvolution, the wavelet noise filter, the
// CIELAB brightness and contrast filter and the manual combination. An item
// whose dialog is not in the program stays hidden.
namespace astrelon {

constexpr int DeconvolutionForm = 22;
constexpr int WaveletFilterForm = 23;
// The shared filter dialog's function for "CIELAB Helligkeit+Kontrast".
constexpr int CielabFunction = 19;

void RegisterToolLaunchCommands();

}  // namespace astrelon
