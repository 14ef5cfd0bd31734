#pragma once
// The batch engine: one unit of work per call of the batch window's timer
// (load the next input, run one step on it, or finish it), installed as
// BatchTick. The next unit starts as soon as the event loop is idle.
namespace astrelon {

// What a run needs beyond the run preparation, done as the run starts: no
// video or kept files, the run's lists and sums emptied, the points of a run
// without marks, an existing target loaded by the start taken as the run's.
void BeginBatchRun();

// One tick: true when the timer is to run again. An error inside it (a step
// value that is no number, memory running out) is shown and the tick returns
// false, so that the run waits; "&Abbruch" then ends it.
bool BatchEngineTick();

// Makes BatchEngineTick the timer's routine and the input hooks of the start
// build the input list and the folder list.
void InstallBatchEngine();

}  // namespace astrelon
