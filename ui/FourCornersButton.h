#pragma once
// FourCornersButton and PointButton are kept with their base.
#include "ui/LabeledToggleButton.h"
