#pragma once
#include "ui/LabeledToggleButton.h"
