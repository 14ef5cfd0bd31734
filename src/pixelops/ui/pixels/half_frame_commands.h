#pragma once
// The "Video" menu's split of an interlaced frame into its two fields, each a
// new image named "Halbbild1_…" and "Halbbild2_…" beside the source.
class QAction;

namespace astrelon {

// Full height, the rows of the other field interpolated.
void SplitFieldsInterpolatedCommand(QAction* sender);
// Half the height, the field's rows only.
void SplitFieldsHalfHeightCommand(QAction* sender);

}  // namespace astrelon
