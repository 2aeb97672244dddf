// The offline data view: a fixed view of sample lessons kept while the
// server could not be reached, behind the main panel's hidden tab "离线上传".
// None of its buttons does anything yet.
#pragma once

#include <QWidget>

namespace panels {
class TSkinButton;
}

class TForm10 : public QWidget {
  Q_OBJECT

 public:
  // The upload button's pictures are read from `assetsDir`.
  explicit TForm10(const std::string& assetsDir, QWidget* parent = nullptr);

  panels::TSkinButton* suiImageButton6 = nullptr;
};
