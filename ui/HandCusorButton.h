#pragma once
// HandCusorButton lives with the other small views.
#include "ui/SmallViews.h"
