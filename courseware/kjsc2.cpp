#include "courseware/kjsc2.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <filesystem>
#include <system_error>

#include "courseware/queue_texts.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/page_keys.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"
#include "ui/pictures.h"

namespace {

constexpr int kRowTops[TForm_kjsc2::kMaxFiles] = {45, 126, 208, 290, 372};
// Design names of each row's controls, rows 1 to 5.
constexpr const char* kPanelNames[] = {"panel1", "Panel2", "Panel3", "Panel4", "Panel5"};
constexpr const char* kCancelNames[] = {"button14", "button24", "Button34", "Button44", "Button54"};

QString utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

TForm_kjsc2::TForm_kjsc2(server::GetClient* getClient, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), workflow_(new courseware::UploadWorkflow(getClient, this)) {
  buildControls(assetsDir);
  using courseware::UploadWorkflow;
  // Until the catalog page is linked (courseware::linkCatalogPage): the
  // sign-in alone, without a catalog, with which nothing is registered.
  workflow_->setSession([] { return courseware::sessionOfSignIn(ClientState); });
  connect(workflow_, &UploadWorkflow::queueChanged, this, &TForm_kjsc2::RefreshRows);
  connect(workflow_, &UploadWorkflow::uploadStarted, this, [this] {
    suiImageButton6->hide();
    setFirstRowState(utf8("正在上传文件......"));
  });
  connect(workflow_, &UploadWorkflow::storeProgress, this, [this](int percent) {
    setFirstRowState(utf8("正在上传，完成  ") + QString::number(percent) + "%");
  });
  connect(workflow_, &UploadWorkflow::uploadHalted, this, [this] { suiImageButton6->show(); });
  connect(workflow_, &UploadWorkflow::queueEmptied, this,
          [] { callHook(AppHooks.switchPage, std::string(PageKey::FileChoice)); });
  connect(workflow_, &UploadWorkflow::message, this, &TForm_kjsc2::showMessage);
  connect(workflow_, &UploadWorkflow::storeRecovered, this, [this] {
    if (storeFailureBox) storeFailureBox->close();
  });
  connect(workflow_, &UploadWorkflow::logLine, this,
          [](const std::string& line) { callHook(AppHooks.appendLog, line); });
}

TForm_kjsc2::~TForm_kjsc2() {
  // The workflow's workers end, and it stops reporting, before the rows go.
  delete workflow_;
}

void TForm_kjsc2::buildControls(const std::string& assetsDir) {
  courseware::setUpPage(this, "Form_kjsc2", 377, 666);
  Label19 = courseware::makeHint(this, utf8("操作提示：将文件拖拽到本页面"), 15, 8,
                                 QString("color: %1;").arg(courseware::hintColour().name()));
  Bevel1 = courseware::makeDivider(this, QRect(2, 39, 355, 2));
  Bevel1->setObjectName("Bevel1");

  for (int i = 0; i < kMaxFiles; ++i) rows[i] = buildRow(i, assetsDir);
  connect(rows[0].cancel, &QPushButton::clicked, this, &TForm_kjsc2::button14Click);
  connect(rows[1].cancel, &QPushButton::clicked, this, &TForm_kjsc2::button24Click);
  connect(rows[2].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button34Click);
  connect(rows[3].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button44Click);
  connect(rows[4].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button54Click);

  suiImageButton6 = courseware::makeWideButton(this, utf8("选择课程章节"), assetsDir);
  connect(suiImageButton6, &QPushButton::clicked, this,
          ui::guarded(this, &TForm_kjsc2::suiImageButton6Click));
}

TForm_kjsc2::Row TForm_kjsc2::buildRow(int index, const std::string& assetsDir) {
  const QString number = QString::number(index + 1);
  const QString fileColour = QString("color: %1;").arg(courseware::hintColour().name());
  Row row;
  row.panel = new QFrame(this);
  row.panel->setObjectName(kPanelNames[index]);
  row.panel->setGeometry(3, kRowTops[index], 369, 79);
  row.panel->hide();

  auto* icon = new QLabel(row.panel);
  icon->setGeometry(8, 5, 45, 53);
  icon->setPixmap(ui::scaledPicture(courseware::picturePath(assetsDir, "kjsc_document.png")));
  icon->setScaledContents(true);

  row.name = new QLabel(row.panel);
  row.name->setObjectName("Label" + number + "1");
  row.name->setGeometry(64, 7, 220, 22);
  row.name->setStyleSheet(fileColour);

  row.size = new QLabel(row.panel);
  row.size->setObjectName("Label" + number + "2");
  row.size->setGeometry(296, 6, 70, 22);
  row.size->setStyleSheet(fileColour);

  row.state = new QLabel(row.panel);
  row.state->setObjectName("Label" + number + "3");
  row.state->setGeometry(64, 39, 220, 22);
  row.state->setStyleSheet("color: rgb(102,102,102);");

  row.cancel = new QPushButton(utf8("取消"), row.panel);
  row.cancel->setObjectName(kCancelNames[index]);
  row.cancel->setGeometry(296, 34, 41, 25);
  row.cancel->setFont(courseware::pageFont(12));
  row.cancel->setCursor(Qt::PointingHandCursor);
  row.cancel->setFocusPolicy(Qt::NoFocus);
  row.cancel->setStyleSheet(
      "QPushButton { background: rgb(135,206,250); border: 1px solid white; color: rgb(96,96,96); }"
      "QPushButton:hover { background: rgb(160,218,252); }");

  courseware::makeDivider(row.panel, QRect(0, 71, 355, 2));
  return row;
}

void TForm_kjsc2::setFirstRowState(const QString& text) { rows[0].state->setText(text); }

// A failed store's message must not stay on screen once the retry has put
// the file on the server: that box does not wait for the teacher, and goes
// with the success.
void TForm_kjsc2::showMessage(const std::string& text, bool untilStored) {
  if (!untilStored) {
    ui::showMessage(text, this);
    return;
  }
  if (storeFailureBox) storeFailureBox->close();
  storeFailureBox = ui::showNotice(text, this);
}

bool TForm_kjsc2::AddFile(const std::string& sourcePath, const std::string& localCopy) {
  return workflow_->AddFile(sourcePath, localCopy);
}
void TForm_kjsc2::RemoveRow(int position) { workflow_->RemoveFile(position); }
void TForm_kjsc2::StartNext() { workflow_->StartNext(); }
void TForm_kjsc2::ResetQueue() { workflow_->ResetQueue(); }
int TForm_kjsc2::QueuedCount() const { return workflow_->QueuedCount(); }
bool TForm_kjsc2::Uploading() const { return workflow_->Uploading(); }

void TForm_kjsc2::RefreshRows() {
  const std::vector<std::string>& copies = workflow_->LocalCopies();
  for (int i = 0; i < kMaxFiles; ++i) {
    Row& row = rows[i];
    const std::string& copy = copies[i];
    if (copy.empty()) {
      row.panel->hide();
      continue;
    }
    row.panel->show();
    row.name->setText(text::toQString(courseware::fileNamePart(copy)));
    // The label cuts a long name; the whole name shows on hover.
    row.name->setToolTip(row.name->text());
    row.state->setText(utf8("等待上传"));
    // A copy that has gone shows no size; its upload reports the problem.
    std::error_code error;
    uintmax_t bytes = std::filesystem::file_size(text::gbkToUtf8(copy), error);
    row.size->setText(error ? QString() : QString::fromStdString(courseware::sizeText(bytes)));
  }
  // The first file is also on its way while it is hashed and looked up,
  // before the run counts as uploading.
  if (!copies[0].empty() && workflow_->FirstFileOnItsWay()) setFirstRowState(utf8("正在上传......"));
}

void TForm_kjsc2::suiImageButton6Click() {
  if (workflow_->Uploading()) {
    showMessage(text::utf8ToGbk("正在上传课件，请稍等！！！"));
    return;
  }
  if (openCatalogPage_) openCatalogPage_();
}

void TForm_kjsc2::button14Click() { RemoveRow(0); }
void TForm_kjsc2::button24Click() { RemoveRow(1); }
void TForm_kjsc2::Button34Click() { RemoveRow(2); }
void TForm_kjsc2::Button44Click() { RemoveRow(3); }
void TForm_kjsc2::Button54Click() { RemoveRow(4); }
