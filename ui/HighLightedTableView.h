#pragma once
// HighLightedTableView lives with the other small views.
#include "ui/SmallViews.h"
