#pragma once
// The batch's multi-star alignment as the stack combination reads it: the
// stored star pairs of each frame installed as marks, the similarity fit of
// the first frame's marks onto the frame's, and the shift grid of what the fit
// leaves. Installed as StackAlignment while a batch run lasts.
namespace astrelon {

// Makes the batch's alignment the installed StackAlignment.
void InstallBatchStackAlignment();
// Removes it again (StackAlignment becomes nullptr when it was installed).
void RemoveBatchStackAlignment();

}  // namespace astrelon
