// Fills the main panel's and the pages' entries of AppHooks, through which
// the status window, the login and the picker reach them.
#pragma once

class TForm2;
class Tform_sbbx;
class Tform_skjs;

void installPanelHooks(TForm2& panel, Tform_skjs& classStart, Tform_sbbx& repair);
