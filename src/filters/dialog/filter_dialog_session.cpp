#include "filters/dialog/filter_dialog_session.h"

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/busy_cursor.h"
#include "core/funktion_defs.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "shell/main/main_services.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/rect_text.h"

namespace astrelon {

TFilterSession FilterSession;

namespace {

constexpr int16_t CursorAppStart = -19;

bool HasCaption(const std::string& s) { return !s.empty(); }

// The values and choices a computation starts with, kept for "&Ok".
void TakeSnapshot(TFilterDialogLink& dialog, TFilterCall& call) {
  TFilterRecord& r = FilterSession.Record;
  const int nr = FunktionNr;
  for (int j = 1; j <= 3; ++j) r.ValueText[size_t(j - 1)] = FunktionParamText(nr, j);
  r.Checked = {dialog.CheckBoxChecked(1), dialog.CheckBoxChecked(2)};
  const TFilterPanels panels = FilterPanels(nr);
  r.Radio = dialog.RadioIndex(panels.Panel6 ? 1 : panels.Panel8 ? 3 : 2);
  const int dst = FilterSession.Destination;
  const bool window = ValidSlot(dst) && Store.HasWindow[size_t(dst)] && Store.Window[size_t(dst)];
  r.SelectionUsed = window && Store.Window[size_t(dst)]->SelectionVisible(1);
  if (window) r.Selection = GetSelectionRect();

  call.Funktion = nr;
  call.Source = FilterSession.Source;
  call.Destination = dst;
  call.Rect = WorkRect;
  call.SecondSelection.reset();
  if (window && !BatchRunning && Store.Window[size_t(dst)]->SelectionVisible(2))
    call.SecondSelection = Store.Window[size_t(dst)]->SelectionImageRect(2);
  call.Planes = {};
  if (SlotInUse(dst)) {
    const TImageSlot& im = Store.Image[size_t(dst)];
    for (int p = FirstChannel(dst); p >= 1 && p <= std::min(im.PlaneCount, 3); NextChannel(dst, p))
      call.Planes[size_t(p)] = true;
    call.Yuv = im.IsColor && im.ColorModel == CmYuv;
  }
  for (int j = 1; j <= 3; ++j) call.Value[size_t(j)] = FunktionParamValue(nr, j);
  call.Checked = {false, r.Checked[0], r.Checked[1]};
  for (int g = 1; g <= 3; ++g) call.Radio[size_t(g)] = dialog.RadioIndex(g);
  call.Caption = dialog.Caption();
  call.Redraw = [&dialog](int slot) { dialog.Redraw(slot); };
}

void SetWorkRectFromDestination() {
  const int dst = FilterSession.Destination;
  if (SlotInUse(dst)) SetWorkRectFromWindow(dst, 1, false);
}

}  // namespace

TFilterPanels FilterPanels(int nr) {
  TFilterPanels p;
  if (nr < 1 || nr > FunktionCount) return p;
  const TFunktionDef& d = FunktionDefTable[size_t(nr)];
  p.Slider2 = HasCaption(d.Trackbar[1].Caption);
  p.Slider3 = HasCaption(d.Trackbar[2].Caption);
  p.Panel6 = HasCaption(d.CheckBox[0].Caption);
  p.CheckBox2 = p.Panel6 && HasCaption(d.CheckBox[1].Caption);
  p.RadioGroup1 = p.Panel6 && nr == 9;
  p.Panel4 = nr == 18;
  p.Panel8 = nr == 15;
  return p;
}

void ComputeFilterPreview(TFilterDialogLink& dialog) {
  const uint32_t generation = PreviewGeneration.load();
  AbortRequested = 0;
  TBusyCursorScope cursor(CursorAppStart);
  SetWorkRectFromDestination();
  TFilterCall call;
  TakeSnapshot(dialog, call);
  const int nr = FunktionNr;
  const TFilterFunktion* f = FindFilterFunktion(nr);
  const int dst = FilterSession.Destination;
  if (f && f->Run && ComputedInPreview(nr) && SlotInUse(dst) && SlotInUse(FilterSession.Source)) {
    TFilterPoll poll;
    poll.WatchGeneration(generation);
    call.Poll = &poll;
    f->Run(call);
  }
  EngineUi().ProcessMessages();
  const bool current = PreviewGeneration.load() == generation;
  if (current && SlotInUse(dst)) {
    ComputeHistogram(dst, false, true);
    dialog.Redraw(dst);
  }
  if (dialog.Button3Visible() && !dialog.Button3Enabled() && FilterBlurValid &&
      (UsesBlurCache(nr) || nr == 8))
    FunktionAusfuehren(dialog);
  FilterSession.Record.Computed = !AbortRequested && PreviewGeneration.load() == generation;
}

void FunktionAusfuehren(TFilterDialogLink& dialog) {
  const uint32_t generation = PreviewGeneration.load();
  const int nr = FunktionNr;
  const int src = FilterSession.Source, dst = FilterSession.Destination;
  if (!SlotInUse(dst) || !SlotInUse(src)) {
    FilterSession.Record.Computed = false;
    return;
  }
  ComputationDone = 0;
  AbortRequested = 0;
  MovedWhileBusy = false;
  const bool button3 = dialog.Button3Visible();
  if (button3) dialog.SetOkAbbruchEnabled(false);
  SetWorkRectFromDestination();
  TFilterCall call;
  TakeSnapshot(dialog, call);

  if (const TFilterFunktion* f = FindFilterFunktion(nr); f && f->Run) {
    TFilterPoll poll;
    poll.WatchGeneration(generation);
    poll.ShowProgressIn(dst, dst, call.Caption);
    call.Poll = &poll;
    f->Run(call);
    poll.HideProgress();
  }

  const bool current = PreviewGeneration.load() == generation;
  if (current && SlotInUse(dst)) dialog.Redraw(dst);
  // The buttons come back also after an abort or a newer request, so that the
  // dialog can always be closed.
  dialog.SetOkAbbruchEnabled(true);
  ComputationDone = 1;
  dialog.SetButton3Computing(false);
  if (AbortRequested)
    dialog.SetButton3Enabled(true);
  else if (!MovedWhileBusy || !dialog.Button3Visible())
    dialog.SetButton3Enabled(false);
  else if (!FilterBlurValid)
    dialog.SetButton3Enabled(true);
  else
    dialog.SetButton3Enabled(FunktionParamValue(nr, 1) != FilterBlurRadius);
  if (AbortRequested) FilterBlurRadius = -1.0f;
  FilterSession.Record.Computed = !AbortRequested && current;
}

void RequestFilterPreview(TFilterDialogLink& dialog) {
  ++PreviewGeneration;
  TFilterSession& s = FilterSession;
  if (s.PreviewRunning) {
    s.PreviewPending = true;
    return;
  }
  s.PreviewRunning = true;
  do {
    s.PreviewPending = false;
    ComputeFilterPreview(dialog);
  } while (s.PreviewPending);
  s.PreviewRunning = false;
}

std::vector<std::string> FilterHistoryTexts(int nr, const TFilterRecord& r, const TFilterDialogLink& dialog) {
  std::vector<std::string> texts;
  if (nr < 1 || nr > FunktionCount) return texts;
  const TFunktionDef& d = FunktionDefTable[size_t(nr)];
  const TFilterPanels p = FilterPanels(nr);
  const std::array<bool, 3> slider{true, p.Slider2, p.Slider3};
  for (size_t j = 0; j < 3; ++j)
    if (slider[j]) texts.push_back(d.Trackbar[j].Caption + " " + r.ValueText[j]);
  auto item = [&](int group) { return r.Radio >= 0 ? dialog.RadioItem(group, r.Radio) : std::string(); };
  if (p.Panel6) {
    if (r.Checked[0]) texts.push_back(d.CheckBox[0].Caption);
    if (p.CheckBox2 && r.Checked[1]) texts.push_back(d.CheckBox[1].Caption);
    if (p.RadioGroup1 && r.Radio >= 0) texts.push_back(dialog.RadioCaption(1) + " " + item(1));
  }
  if (p.Panel8 && r.Radio >= 0) texts.push_back(item(3));
  if (p.Panel4 && r.Radio >= 0) texts.push_back(dialog.RadioCaption(2) + " " + item(2));
  if (r.SelectionUsed) texts.push_back(FormatRectText(r.Selection) + ".");
  return texts;
}

void WriteFilterHistory(int slot, const std::string& caption, const std::vector<std::string>& texts) {
  if (!SlotInUse(slot)) return;
  AddHistoryCard(slot, caption, 2);
  for (const std::string& t : texts) AddHistoryCard(slot, t, 0);
  Store.NewHistoryCard[size_t(slot)] = 1;
}

}  // namespace astrelon
