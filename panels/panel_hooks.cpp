#include "panels/panel_hooks.h"

#include <QPoint>
#include <memory>
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
  enum class Kind { Page, Position };
  using Call = std::function<void(TForm2&)>;

  explicit LazyPanel(std::function<TForm2*()> make) : make_(std::move(make)) {}

  // Runs `call` on the panel when it exists, otherwise once it is made.
  void apply(Kind kind, Call call) {
    if (made_ != nullptr) {
      call(*made_);
      return;
    }
    std::erase_if(waiting_, [kind](const auto& entry) { return entry.first == kind; });
    waiting_.emplace_back(kind, std::move(call));
  }

  TForm2& panel() {
    if (made_ == nullptr) {
      made_ = make_();
      for (auto& [kind, call] : std::exchange(waiting_, {})) call(*made_);
    }
    return *made_;
  }

  bool made() const { return made_ != nullptr; }
  std::string requestedKey;  // the page asked for before the panel was made

 private:
  std::function<TForm2*()> make_;
  TForm2* made_ = nullptr;
  std::vector<std::pair<Kind, Call>> waiting_;
};

void fillHooks(const std::shared_ptr<LazyPanel>& lazy) {
  using Kind = LazyPanel::Kind;
  // A panel not made yet is not on screen, and its page is the one last asked for.
  AppHooks.switchPage = [lazy](const std::string& key) {
    if (!lazy->made()) lazy->requestedKey = key;
    lazy->apply(Kind::Page, [key](TForm2& panel) { panel.switchPage(key); });
  };
  AppHooks.currentPageKey = [lazy] {
    return lazy->made() ? lazy->panel().currentPageKey() : lazy->requestedKey;
  };
  AppHooks.showMainPanel = [lazy] {
    TForm2& panel = lazy->panel();
    panel.show();
    panel.raise();
    panel.activateWindow();
  };
  AppHooks.hideMainPanel = [lazy] {
    if (lazy->made()) lazy->panel().hide();
  };
  AppHooks.moveMainPanel = [lazy](int left, int top) {
    lazy->apply(Kind::Position, [left, top](TForm2& panel) { panel.move(left, top); });
  };
}

}  // namespace

void installPanelHooks(TForm2& panel) {
  auto made = std::make_shared<LazyPanel>([&panel] { return &panel; });
  made->panel();
  fillHooks(made);
}

std::function<void(bool reloadLists)> tellPagesOfChoice(Tform_skjs& classStart, Tform_sbbx& repair) {
  return [&classStart, &repair](bool reloadLists) {
    classStart.showKnownSchoolAndTeacher();
    repair.showChosenTeacher();
    if (reloadLists) classStart.FormShow1111();
  };
}

void installPanelHooks(std::function<TForm2*()> make) {
  fillHooks(std::make_shared<LazyPanel>(std::move(make)));
}
