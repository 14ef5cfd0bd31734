#include "app/ui/program_commands.h"

#include "batch/ui/batch_commands.h"
#include "filters/ui/filter_commands.h"
#include "frequency/ui/deconvolution_dialog.h"
#include "frequency/ui/fft_commands.h"
#include "frequency/ui/frequency_filter_commands.h"
#include "frequency/ui/wavelet_dialog.h"
#include "pixelops/ui/colour/channel_commands.h"
#include "pixelops/ui/colour/color_commands.h"
#include "pixelops/ui/colour/color_layout_commands.h"
#include "pixelops/ui/colour/colour_chart_commands.h"
#include "pixelops/ui/colour/colour_repair_commands.h"
#include "pixelops/ui/flattening/background_flattening_commands.h"
#include "pixelops/ui/flattening/gradient_flattening_commands.h"
#include "pixelops/ui/flattening/sun_surface_commands.h"
#include "pixelops/ui/geometry/distortion_commands.h"
#include "pixelops/ui/geometry/geometry_commands.h"
#include "pixelops/ui/geometry/resize_commands.h"
#include "pixelops/ui/mosaic/mosaic_commands.h"
#include "pixelops/ui/pixels/image_combination_commands.h"
#include "pixelops/ui/pixels/image_tool_commands.h"
#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"
#include "pixelops/ui/pixels/spatial_tool_commands.h"
#include "pixelops/ui/stamping/text_stamp_commands.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "registration/ui/bias_tool_commands.h"
#include "registration/ui/calibration_commands.h"
#include "registration/ui/image_merge_commands.h"
#include "registration/ui/master_frame_commands.h"
#include "registration/ui/shift_test_command.h"
#include "registration/ui/two_image_commands.h"
#include "shell/ui/blink/blink_window.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/side_panel/star_panel.h"
#include "shell/ui/windows/image_window_commands.h"
#include "shell/ui/windows/mouse_tools.h"
#include "store/ui/store_commands.h"

namespace astrelon {

// Each subsystem's ui folder offers one Register…Commands() that this calls.
void RegisterProgramCommands() {
  RegisterStoreCommands();
  RegisterMainWindowCommands();
  RegisterPixelArithmeticCommands();
  RegisterFilterCommands();
  RegisterFrequencyCommands();
  RegisterFrequencyFilterCommands();
  RegisterWaveletCommands();
  RegisterHistogramCommands();
  RegisterSunSurfaceCommands();
  RegisterColorCommands();
  RegisterMosaicCommands();
  RegisterResizeCommands();
  RegisterCalibrationCommands();
  RegisterBlinkCommands();
  RegisterImageToolCommands();
  RegisterImageWindowCommands();
  RegisterBackgroundFlatteningCommands();
  RegisterGradientFlatteningCommands();
  RegisterBiasToolCommands();
  RegisterShiftTestCommands();
  RegisterGeometryCommands();
  RegisterStarPanelCommands();
  RegisterTextStampCommands();
  RegisterMouseToolCommands();
  RegisterMasterFrameCommands();
  RegisterTwoImageCommands();
  RegisterImageMergeCommands();
  RegisterSpatialToolCommands();
  RegisterDistortionCommands();
  RegisterChannelCommands();
  RegisterColourRepairCommands();
  RegisterColourChartCommands();
  RegisterColorLayoutCommands();
  RegisterToolLaunchCommands();
  RegisterDeconvolutionForm();
  RegisterImageCombinationCommands();
  RegisterBatchCommands();
}

}  // namespace astrelon
