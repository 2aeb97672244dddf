// Fills the main panel's and the pages' entries of AppHooks, through which
// the status window, the login and the picker reach them.
#pragma once

#include <functional>

class TForm2;
class Tform_sbbx;
class Tform_skjs;

// The main panel and the two pages the hooks address.
struct PanelWindows {
  TForm2* panel = nullptr;
  Tform_skjs* classStart = nullptr;
  Tform_sbbx* repair = nullptr;
};

// For windows that already exist.
void installPanelHooks(TForm2& panel, Tform_skjs& classStart, Tform_sbbx& repair);

// What the picker's committed choice does to the pages (the picker's
// `chosen`): both show the new school and teacher, and the class-start page
// loads its lists again when `reloadLists` says so.
std::function<void(bool reloadLists)> tellPagesOfChoice(Tform_skjs& classStart, Tform_sbbx& repair);

// The panel and its pages are made by `make` when the panel is first shown;
// most of a classroom's day it never is. Until then the hooks remember what
// they were told (only the latest of each kind: each sets the same things
// afresh) and the windows hear it, in the order it came, as soon as they are
// made, just as windows made at start-up would have.
void installPanelHooks(std::function<PanelWindows()> make);
