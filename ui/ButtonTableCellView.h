#pragma once
// ButtonTableCellView lives with the other small views.
#include "ui/SmallViews.h"
