#pragma once
// LinkButton lives with the other small views.
#include "ui/SmallViews.h"
