#pragma once
// DisableScrollView lives with the other small views.
#include "ui/SmallViews.h"
