#include "panels/panel_hooks.h"

#include <QPoint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "panels/mainform.h"
#include "panels/sbbx.h"
#include "panels/skjs.h"
#include "state/app_hooks.h"

namespace {

class LazyPanel {
 public:
  // What a waiting call sets; a later call of the same kind replaces it.
  enum class Kind { Page, Position, SignedInOrOut, Lesson, Refresh };
  using Call = std::function<void(PanelWindows&)>;

  explicit LazyPanel(std::function<PanelWindows()> make) : make_(std::move(make)) {}

  // Runs `call` on the windows when they exist, otherwise once they are made.
  void apply(Kind kind, Call call) {
    if (made_) {
      call(*made_);
      return;
    }
    std::erase_if(waiting_, [kind](const auto& entry) { return entry.first == kind; });
    waiting_.emplace_back(kind, std::move(call));
  }

  PanelWindows& windows() {
    if (!made_) {
      made_ = make_();
      for (auto& [kind, call] : std::exchange(waiting_, {})) call(*made_);
    }
    return *made_;
  }

  bool made() const { return made_.has_value(); }
  std::string requestedKey;  // the page asked for before the panel was made

 private:
  std::function<PanelWindows()> make_;
  std::optional<PanelWindows> made_;
  std::vector<std::pair<Kind, Call>> waiting_;
};

void fillHooks(const std::shared_ptr<LazyPanel>& lazy) {
  using Kind = LazyPanel::Kind;
  // A panel not made yet is not on screen, and its page is the one last asked for.
  AppHooks.switchPage = [lazy](const std::string& key) {
    if (!lazy->made()) lazy->requestedKey = key;
    lazy->apply(Kind::Page, [key](PanelWindows& w) { w.panel->switchPage(key); });
  };
  AppHooks.currentPageKey = [lazy] {
    return lazy->made() ? lazy->windows().panel->currentPageKey() : lazy->requestedKey;
  };
  AppHooks.showMainPanel = [lazy] {
    TForm2& panel = *lazy->windows().panel;
    panel.show();
    panel.raise();
    panel.activateWindow();
  };
  AppHooks.hideMainPanel = [lazy] {
    if (lazy->made()) lazy->windows().panel->hide();
  };
  AppHooks.moveMainPanel = [lazy](int left, int top) {
    lazy->apply(Kind::Position, [left, top](PanelWindows& w) { w.panel->move(left, top); });
  };

  AppHooks.classStartRefresh = [lazy] {
    // Whether a lesson is being timed counts when the refresh is asked for
    // (the lesson taken up again refreshes just before its timer starts).
    if (lazy->made()) {
      lazy->windows().classStart->FormShow1111();
    } else if (!callHook(AppHooks.isLessonRunning)) {
      lazy->apply(Kind::Refresh, [](PanelWindows& w) { w.classStart->ReloadLists(); });
    }
  };
  // The lesson stopped, or was taken up again with the server's values: the
  // repair page shows it even while it is on screen.
  AppHooks.classStartIdle = [lazy] {
    lazy->apply(Kind::Lesson, [](PanelWindows& w) {
      w.classStart->showIdle();
      w.repair->followLesson(false);
    });
  };
  AppHooks.classStartResumed = [lazy](const std::string& beginTime) {
    lazy->apply(Kind::Lesson, [beginTime](PanelWindows& w) {
      w.classStart->showResumed(beginTime);
      w.repair->followLesson(true);
    });
  };
  AppHooks.pagesSignedIn = [lazy] {
    lazy->apply(Kind::SignedInOrOut, [](PanelWindows& w) {
      w.classStart->showSignedIn();
      w.repair->showSignedIn();
    });
  };
  AppHooks.pagesSignedOut = [lazy] {
    lazy->apply(Kind::SignedInOrOut, [](PanelWindows& w) {
      w.classStart->showSignedOut();
      w.repair->showSignedOut();
    });
  };
}

}  // namespace

void installPanelHooks(TForm2& panel, Tform_skjs& classStart, Tform_sbbx& repair) {
  auto made =
      std::make_shared<LazyPanel>([windows = PanelWindows{&panel, &classStart, &repair}] { return windows; });
  made->windows();
  fillHooks(made);
}

std::function<void(bool reloadLists)> tellPagesOfChoice(Tform_skjs& classStart, Tform_sbbx& repair) {
  return [&classStart, &repair](bool reloadLists) {
    classStart.showKnownSchoolAndTeacher();
    repair.showChosenTeacher();
    if (reloadLists) classStart.FormShow1111();
  };
}

void installPanelHooks(std::function<PanelWindows()> make) {
  fillHooks(std::make_shared<LazyPanel>(std::move(make)));
}
