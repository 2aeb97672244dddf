// Fills the main panel's entries of AppHooks, through which the status
// window, the login and the pages reach it; and tells the pages of the
// picker's choice.
#pragma once

#include <functional>

class TForm2;
class Tform_sbbx;
class Tform_skjs;

// For a panel that already exists.
void installPanelHooks(TForm2& panel);

// What the picker's committed choice does to the pages (the picker's
// `chosen`): both show the new school and teacher, and the class-start page
// loads its lists again when `reloadLists` says so.
std::function<void(bool reloadLists)> tellPagesOfChoice(Tform_skjs& classStart, Tform_sbbx& repair);

// The panel and its pages are made by `make` when the panel is first shown;
// most of a classroom's day it never is. Until then the hooks remember the
// page and position asked for (only the latest of each) and the panel hears
// them, in the order they came, as soon as it is made. (The pages read the
// sign-in and the lesson when they are made.)
void installPanelHooks(std::function<TForm2*()> make);
