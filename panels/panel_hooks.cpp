#include "panels/panel_hooks.h"

#include "core/app_hooks.h"
#include "panels/mainform.h"
#include "panels/sbbx.h"
#include "panels/skjs.h"

void installPanelHooks(TForm2& panel, Tform_skjs& classStart, Tform_sbbx& repair) {
  AppHooks.switchPage = [&panel](const std::string& key) { panel.switchPage(key); };
  AppHooks.currentPageKey = [&panel] { return panel.currentPageKey(); };
  AppHooks.showMainPanel = [&panel] {
    panel.show();
    panel.raise();
    panel.activateWindow();
  };
  AppHooks.hideMainPanel = [&panel] { panel.hide(); };
  AppHooks.moveMainPanel = [&panel](int left, int top) { panel.move(left, top); };

  AppHooks.classStartRefresh = [&classStart] { classStart.FormShow1111(); };
  // The lesson stopped, or was taken up again with the server's values: the
  // repair page shows it even while it is on screen.
  AppHooks.classStartIdle = [&classStart, &repair] {
    classStart.showIdle();
    repair.followLesson(false);
  };
  AppHooks.classStartResumed = [&classStart, &repair](const std::string& beginTime) {
    classStart.showResumed(beginTime);
    repair.followLesson(true);
  };
  AppHooks.pagesSignedIn = [&classStart, &repair] {
    classStart.showSignedIn();
    repair.showSignedIn();
  };
  AppHooks.pagesSignedOut = [&classStart, &repair] {
    classStart.showSignedOut();
    repair.showSignedOut();
  };
  // The picker has written its choice into the ClientState.
  AppHooks.teacherChanged = [&classStart, &repair] {
    classStart.showKnownSchoolAndTeacher();
    repair.showChosenTeacher();
  };
}
