#include "batch/ui/batch_commands.h"

#include <QAction>

#include "batch/run/batch_engine.h"
#include "batch/ui/batch_run_view_ui.h"
#include "batch/ui/batch_window.h"
#include "batch/ui/star_check_prompt.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/star_panel.h"

namespace astrelon {

void RegisterBatchCommands() {
  RegisterDialogForm(BatchWindowFormNumber, [] { return new TForm7; });
  RegisterFormLauncher("Batchprocessing1", BatchWindowFormNumber, [](QAction*) {
    EnsureDialogForm(BatchWindowFormNumber);
    FadeInForm(DialogForm(BatchWindowFormNumber));
  });
  StarCheckPromptShown = [] { return StarCheckPromptVisible(); };
  InstallBatchEngine();
  InstallBatchRunView();
  // The File menu keeps the batch tools disabled while the window is shown.
  static bool chained = false;
  if (chained) return;
  chained = true;
  TMainWindowLink& link = MainLink();
  link.BatchToolShown = [previous = link.BatchToolShown] {
    const QWidget* form = DialogForm(BatchWindowFormNumber);
    return (form && form->isVisible()) || (previous && previous());
  };
}

}  // namespace astrelon
