#pragma once
// The effects screen's lists (categories, effects, steps, favourites): dark, one row
// chosen at a time, scrolled by the pixel, and showing when they have the keyboard, as
// the other screens' lists do.
#include <QString>

class QListView;
class QWidget;

QListView* makeEffectList(QWidget* parent, const QString& name);
// Their look, for a table of the screen that goes with them.
QString effectListStyle();
