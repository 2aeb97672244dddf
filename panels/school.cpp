#include "panels/school.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>

#include "core/image_button.h"
#include "panels/panel_widgets.h"
#include "panels/school_widgets.h"
#include "platform/gui/surface_drag.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/pictures.h"

namespace {

constexpr QSize kWindowSize(360, 600);
const QColor kKeyColour(0, 0, 255);
const QColor kTitle(97, 187, 226);
const QColor kHint(4, 104, 147);
const QColor kComboText(128, 128, 128);
const QColor kBar(99, 196, 238);
const QRect kPanelPlace(6, 66, 345, 527);
// A press inside this rectangle does not drag the window.
const QRect kDragExemption(241, 55, 10, 14);
// Bars stand 8 pixels left of their tab.
constexpr int kBarOffset = 8;

QPixmap picture(const std::string& assetsDir, const char* name) {
  return ui::scaledPicture(QString::fromStdString(assetsDir + "/" + name));
}

void setTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::Text, colour);
  palette.setColor(QPalette::ButtonText, colour);
  widget->setPalette(palette);
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* words, const QColor& colour, QPoint at) {
  auto* label = new QLabel(QString::fromUtf8(words), parent);
  label->setObjectName(name);
  label->setFont(panels::pixelFont(14));
  setTextColour(label, colour);
  label->move(at);
  label->adjustSize();
  return label;
}

QComboBox* makeCombo(QWidget* parent, const char* name, int top) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setGeometry(16, top, 310, 28);
  combo->setFont(panels::pixelFont(14));
  setTextColour(combo, kComboText);
  return combo;
}

SchoolList* makeList(QWidget* parent, const char* name, const QRect& geometry) {
  auto* list = new SchoolList(parent);
  list->setObjectName(name);
  list->setGeometry(geometry);
  list->setFont(panels::pixelFont(14));
  setTextColour(list, kHint);
  return list;
}

// Refills a combo with the names of `choices`, leaving nothing selected.
void fillCombo(QComboBox* combo, const std::vector<PickerChoice>& choices) {
  combo->clear();
  for (const PickerChoice& choice : choices) combo->addItem(text::toQString(choice.name));
  // A combo selects its first item by itself; the picker starts with none.
  combo->setCurrentIndex(-1);
}

// The row behind a combo's selected item, if one is selected.
const PickerChoice* chosen(const QComboBox* combo, const std::vector<PickerChoice>& rows) {
  const int index = combo->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= rows.size()) return nullptr;
  return &rows[static_cast<size_t>(index)];
}

int selectedRow(const QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

QWidget* makeBar(QWidget* parent, const char* name, const QRect& geometry) {
  auto* bar = new panels::TBar(kBar, parent);
  bar->setObjectName(name);
  bar->setGeometry(geometry);
  return bar;
}

bool haveDatabase() { return !DB_Func::DatabasePath().empty(); }

void appendLog(const std::string& line) { callHook(AppHooks.appendLog, line); }

}  // namespace

Tform_school::Tform_school(const std::string& assetsDir, server::GetClient& getClient, Chosen chosen,
                           QWidget* parent)
    : QWidget(parent), chosen_(std::move(chosen)), getClient_(getClient), drag_(kDragExemption) {
  setObjectName("form_school");
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  buildControls(assetsDir);
}

Tform_school::~Tform_school() = default;

void Tform_school::buildControls(const std::string& assetsDir) {
  background_ = picture(assetsDir, "school_back.png");
  if (background_.isNull()) {
    // Without its picture the window is a plain white page of its size.
    background_ = QPixmap(kWindowSize);
    background_.fill(Qt::white);
  }
  setFixedSize(background_.deviceIndependentSize().toSize());
  setMask(ui::pictureAtScaleOne(background_, QString::fromStdString(assetsDir + "/school_back.png"))
              .createMaskFromColor(kKeyColour));

  Label1 = makeLabel(this, "Label1", "请选择学校及老师", kTitle, {16, 3});

  suiImageButton1 = new TImageButton(this);
  suiImageButton1->setObjectName("suiImageButton1");
  suiImageButton1->setGeometry(336, 4, 16, 15);
  suiImageButton1->setPictures(picture(assetsDir, "school_close_normal.png"),
                               picture(assetsDir, "school_close_hover.png"),
                               picture(assetsDir, "school_close_pressed.png"));
  connect(suiImageButton1, &QAbstractButton::clicked, this,
          ui::guarded(this, &Tform_school::suiImageButton1Click));

  suiImageButton2 = new SchoolTabButton(QString::fromUtf8("学校"), this);
  suiImageButton2->setObjectName("suiImageButton2");
  suiImageButton2->setGeometry(38, 28, 49, 25);
  suiImageButton3 = new SchoolTabButton(QString::fromUtf8("老师"), this);
  suiImageButton3->setObjectName("suiImageButton3");
  suiImageButton3->setGeometry(124, 28, 49, 25);

  Shape1 = makeBar(this, "Shape1", QRect(suiImageButton2->x() - kBarOffset, 54, 65, 5));
  Shape2 = makeBar(this, "Shape2", QRect(suiImageButton2->x() - kBarOffset, 56, 65, 3));
  Shape2->hide();
  for (SchoolTabButton* tab : {suiImageButton2, suiImageButton3}) {
    connect(tab, &SchoolTabButton::mouseEntered, this, [this, tab] {
      Shape2->move(tab->x() - kBarOffset, Shape2->y());
      Shape2->show();
    });
    connect(tab, &SchoolTabButton::mouseLeft, Shape2, &QWidget::hide);
  }
  connect(suiImageButton2, &SchoolTabButton::mouseReleased, this,
          ui::guarded(this, &Tform_school::ShowSchoolTab));
  connect(suiImageButton3, &SchoolTabButton::mouseReleased, this,
          ui::guarded(this, &Tform_school::ShowTeacherTab));

  const QPixmap panelPicture = picture(assetsDir, "school_panel.png");
  suiImagePanel1 = new SchoolPanel(panelPicture, this);
  suiImagePanel1->setObjectName("suiImagePanel1");
  suiImagePanel1->setGeometry(kPanelPlace);
  CB_shen_name = makeCombo(suiImagePanel1, "CB_shen_name", 14);
  CB_shi_name = makeCombo(suiImagePanel1, "CB_shi_name", 62);
  CB_qu_name = makeCombo(suiImagePanel1, "CB_qu_name", 110);
  // Only the user's own choice counts as a change, never a refill.
  connect(CB_shen_name, &QComboBox::activated, this, ui::guarded(this, &Tform_school::CB_shen_nameChange));
  connect(CB_shi_name, &QComboBox::activated, this, ui::guarded(this, &Tform_school::CB_shi_nameChange));
  connect(CB_qu_name, &QComboBox::activated, this, ui::guarded(this, &Tform_school::CB_qu_nameChange));
  Label2 = makeLabel(suiImagePanel1, "Label2", "操作提示：双击选择学校", kHint, {18, 150});
  CL_school = makeList(suiImagePanel1, "CL_school", QRect(18, 181, 310, 334));
  connect(CL_school, &QListWidget::itemSelectionChanged, this,
          ui::guarded(this, &Tform_school::CL_schoolClick));
  connect(CL_school, &SchoolList::doubleClickedAnywhere, this,
          ui::guarded(this, &Tform_school::CL_schoolDblClick));

  suiImagePanel2 = new SchoolPanel(panelPicture, this);
  suiImagePanel2->setObjectName("suiImagePanel2");
  suiImagePanel2->setGeometry(kPanelPlace);
  suiImagePanel2->hide();
  Label3 = makeLabel(suiImagePanel2, "Label3", "操作提示：双击选择老师", kHint, {22, 10});
  LB_teacher = makeList(suiImagePanel2, "LB_teacher", QRect(8, 40, 331, 483));
  connect(LB_teacher, &SchoolList::doubleClickedAnywhere, this,
          ui::guarded(this, &Tform_school::LB_teacherDblClick));
}

void Tform_school::openAt(int mode, const QPoint& mainPanelTopLeft) {
  // Every opening starts from empty lists, also when the picker was still up.
  if (isVisible()) hide();
  schoolMode = mode;
  move(mainPanelTopLeft);
  show();
  raise();
  activateWindow();
}

void Tform_school::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) ui::runGuarded(this, [this] { FormShow(); });
}

void Tform_school::FormShow() {
  CB_shen_name->clear();
  CB_shi_name->clear();
  CB_qu_name->clear();
  provinceRows.clear();
  cityRows.clear();
  areaRows.clear();
  clearSchoolList();
  recentTeachers.clear();
  allTeachers.clear();
  allTeachersLoaded_ = false;
  LB_teacher->clear();
  if (schoolMode == 1)
    ShowSchoolTab();
  else
    ShowTeacherTab();
}

void Tform_school::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

void Tform_school::showTab(SchoolTabButton* tab, SchoolPanel* shown, SchoolPanel* hidden) {
  Shape1->move(tab->x() - kBarOffset, Shape1->y());
  hidden->hide();
  shown->setGeometry(hidden->geometry());
  shown->show();
}

void Tform_school::ShowSchoolTab() {
  showTab(suiImageButton2, suiImagePanel1, suiImagePanel2);
  // The combos are filled once per showing; the province, city and district
  // lists come from the cache alone, the server is never asked for them.
  if (CB_shen_name->count() > 0 || !haveDatabase()) return;

  provinceRows = choicesFrom(DB_Func::QueryProvinces(), "provinceID", "province");
  fillCombo(CB_shen_name, provinceRows);
  CB_shen_name->setCurrentIndex(findChoiceByName(provinceRows, ClientState.provinceName));
  cityRows = choicesFrom(DB_Func::QueryCities(ClientState.provinceID), "cityID", "city");
  fillCombo(CB_shi_name, cityRows);
  CB_shi_name->setCurrentIndex(findChoiceByName(cityRows, ClientState.cityName));
  areaRows = choicesFrom(DB_Func::QueryAreas(ClientState.cityID), "areaID", "area");
  fillCombo(CB_qu_name, areaRows);
  CB_qu_name->setCurrentIndex(findChoiceByName(areaRows, ClientState.areaName));
  FillSchoolList();
  // With districts listed but the signed-in one not among them, no district
  // is chosen and there is no school list to refresh.
  if (CB_qu_name->count() > 0 && CB_qu_name->currentIndex() < 0) return;
  requestSchools(ClientState.areaID);
}

void Tform_school::clearSchoolList() {
  CL_school->clear();
  schoolRows.clear();
  allTeachersLoaded_ = false;
}

void Tform_school::FillSchoolList() {
  if (CB_qu_name->count() == 0 || !haveDatabase()) return;
  // A school the user picked stays picked when the list fills again after
  // the server's answer.
  const int picked = selectedRow(CL_school);
  const std::string pickedID = picked >= 0 && static_cast<size_t>(picked) < schoolRows.size()
                                   ? schoolRows[static_cast<size_t>(picked)].id
                                   : std::string();
  clearSchoolList();
  const PickerChoice* district = chosen(CB_qu_name, areaRows);
  if (district == nullptr) return;
  schoolRows = choicesFrom(DB_Func::QuerySchools(district->id), "school_id", "school_name");
  int select = -1;
  for (size_t i = 0; i < schoolRows.size(); ++i) {
    CL_school->addLine(text::toQString(schoolRows[i].name));
    if (select < 0 && !pickedID.empty() && schoolRows[i].id == pickedID) select = static_cast<int>(i);
  }
  if (select < 0) select = findChoiceByName(schoolRows, ClientState.schoolName);
  if (select >= 0) CL_school->setCurrentRow(select);
  allTeachersLoaded_ = false;
}

void Tform_school::CB_shen_nameChange(int index) {
  const PickerChoice* province = chosen(CB_shen_name, provinceRows);
  if (province == nullptr) return;
  cityRows = choicesFrom(DB_Func::QueryCities(province->id), "cityID", "city");
  fillCombo(CB_shi_name, cityRows);
  areaRows.clear();
  CB_qu_name->clear();
  clearSchoolList();
}

void Tform_school::CB_shi_nameChange(int index) {
  const PickerChoice* city = chosen(CB_shi_name, cityRows);
  if (city == nullptr) return;
  areaRows = choicesFrom(DB_Func::QueryAreas(city->id), "areaID", "area");
  fillCombo(CB_qu_name, areaRows);
  clearSchoolList();
}

void Tform_school::CB_qu_nameChange(int index) {
  const PickerChoice* district = chosen(CB_qu_name, areaRows);
  if (district == nullptr) return;
  const std::string areaID = district->id;
  FillSchoolList();
  requestSchools(areaID);
}

void Tform_school::CL_schoolClick() { allTeachersLoaded_ = false; }

void Tform_school::CL_schoolDblClick() {
  CL_schoolClick();
  ShowTeacherTab();
}

std::string Tform_school::teacherTabSchoolID() const {
  const int row = selectedRow(CL_school);
  if (row >= 0 && static_cast<size_t>(row) < schoolRows.size())
    return schoolRows[static_cast<size_t>(row)].id;
  // Once the "学校" tab has been filled, no school chosen there means none.
  if (CB_shen_name->count() > 0) return std::string();
  return ClientState.schoolID;
}

void Tform_school::ShowTeacherTab() {
  showTab(suiImageButton3, suiImagePanel2, suiImagePanel1);
  if (!haveDatabase() || allTeachersLoaded_) return;
  const std::string schoolID = teacherTabSchoolID();
  FillTeacherList();
  requestTeachers(schoolID);
}

void Tform_school::FillTeacherList() {
  if (!haveDatabase()) return;
  const std::string schoolID = teacherTabSchoolID();
  const int picked = selectedRow(LB_teacher);
  const QString pickedText = picked > 0 ? LB_teacher->item(picked)->text() : QString();
  LB_teacher->clear();
  recentTeachers = teachersFrom(DB_Func::QueryRecentTeachers(schoolID));
  allTeachers = teachersFrom(DB_Func::QueryTeachers(schoolID));
  allTeachersLoaded_ = true;
  int select = -1;
  for (const std::string& item : teacherListItems(recentTeachers, allTeachers)) {
    const QString line = text::toQString(item);
    if (select < 0 && !pickedText.isEmpty() && line == pickedText) select = LB_teacher->count();
    LB_teacher->addLine(line);
  }
  if (select >= 0) LB_teacher->setCurrentRow(select);
}

void Tform_school::LB_teacherDblClick() {
  const int position = selectedRow(LB_teacher);
  if (position < 0) return;
  const std::optional<TeacherListRow> pick =
      teacherRowAt(position, text::fromQString(LB_teacher->item(position)->text()), recentTeachers.size(),
                   allTeachers.size());
  if (!pick) return;
  const PickerTeacher teacher = pick->recent ? recentTeachers[pick->row] : allTeachers[pick->row];

  const std::string schoolBefore = ClientState.schoolID;
  signin::Picked picked = pickedAreasAndSchool();
  picked.teacherID = teacher.id;
  picked.teacherName = teacher.name;
  picked.teacherPhone = teacher.phone;
  signin::takePicked(picked);
  // The pages show the new teacher and school (and the masked phone); the
  // class-start page reloads its lists for a teacher of the full list, and
  // for any teacher whose school differs from the one its lists are of.
  chosen_(!pick->recent || ClientState.schoolID != schoolBefore);
  hide();
}

signin::Picked Tform_school::pickedAreasAndSchool() const {
  signin::Picked picked;
  using Level = signin::Picked::Level;
  if (const PickerChoice* province = chosen(CB_shen_name, provinceRows))
    picked.province = Level{province->id, province->name};
  if (const PickerChoice* city = chosen(CB_shi_name, cityRows)) picked.city = Level{city->id, city->name};
  if (const PickerChoice* district = chosen(CB_qu_name, areaRows))
    picked.area = Level{district->id, district->name};
  const int school = selectedRow(CL_school);
  if (school >= 0 && static_cast<size_t>(school) < schoolRows.size()) {
    const PickerChoice& row = schoolRows[static_cast<size_t>(school)];
    picked.school = Level{row.id, row.name};
  }
  return picked;
}

void Tform_school::requestSchools(const std::string& areaID) {
  getClient_.setReplyHandler(ui::guarded(this, &Tform_school::getSchool));
  getClient_.startRequest(HttpUrl::SchoolsOfDistrict(ClientState.serverPath, areaID));
}

void Tform_school::requestTeachers(const std::string& schoolID) {
  getClient_.setReplyHandler(ui::guarded(this, &Tform_school::getTeacher));
  getClient_.startRequest(HttpUrl::TeachersOfSchool(ClientState.serverPath, schoolID));
}

std::string Tform_school::acceptReply(const std::string& prefix, const char* failure,
                                      const std::string& replyText) {
  appendLog(prefix + replyText);
  const std::string jsonPart = Json_Func::ExtractJsonPart(replyText);
  getClient_.finishRequest(jsonPart);
  if (jsonPart.empty()) appendLog(text::utf8ToGbk(failure));
  return jsonPart;
}

void Tform_school::getSchool(const std::string& replyText) {
  const std::string jsonPart =
      acceptReply("Tform_school.getSchool : ", "Tform_school.getSchool : 无法访问服务器！", replyText);
  if (jsonPart.empty() || !haveDatabase()) return;
  // Rows of an empty district id would be stored under no district at all
  // and pile up with every such answer, so only a real district is cached.
  const std::string areaID = queryParam(getClient_.lastPathAndQuery(), "id");
  if (!areaID.empty()) DB_Func::RefreshSchools(jsonPart, areaID);
  FillSchoolList();
}

void Tform_school::getTeacher(const std::string& replyText) {
  const std::string jsonPart =
      acceptReply("Tform_school.getTeacher : ", "Tform_school.getTeacher :   无法访问服务器！", replyText);
  if (jsonPart.empty() || !haveDatabase()) return;
  // Teachers of no school are not cached either.
  const std::string schoolID = queryParam(getClient_.lastPathAndQuery(), "id");
  if (!schoolID.empty()) DB_Func::RefreshTeachers(jsonPart, schoolID);
  FillTeacherList();
}

void Tform_school::suiImageButton1Click() { hide(); }

void Tform_school::mousePressEvent(QMouseEvent* event) {
  if (!drag_.press(*this, *event)) QWidget::mousePressEvent(event);
}

void Tform_school::mouseMoveEvent(QMouseEvent* event) { drag_.move(*this, *event); }

void Tform_school::mouseReleaseEvent(QMouseEvent*) { drag_.release(); }
