#pragma once
// MouseDownView lives with the other small views.
#include "ui/SmallViews.h"
