#include "courseware/copy_and_add.h"

#include <QDate>
#include <filesystem>
#include <system_error>

#include "courseware/kjsc2.h"
#include "courseware/queue_texts.h"
#include "platform/data_dir.h"
#include "state/client_state.h"
#include "sys/guid.h"
#include "sys/text_codec.h"
#include "ui/message_box.h"

namespace courseware {

namespace fs = std::filesystem;

std::string localCourseFolder(const std::string& dataDir, const std::string& teacherName,
                              const std::string& teacherPhone, const std::string& month) {
  return dataDir + "/courseware/" + teacherName + teacherPhone + "/" + month;
}

bool copyReplacing(const std::string& source, const std::string& target) {
  std::error_code error;
  const fs::path to(target);
  fs::create_directories(to.parent_path(), error);
  if (error) return false;
  if (fs::equivalent(source, to, error)) return true;
  // A hidden name of its own beside the target, so nothing else is touched.
  const fs::path part = to.parent_path() / ("." + to.filename().string() + newGuidText() + ".part");
  if (!fs::copy_file(source, part, fs::copy_options::overwrite_existing, error) || error) {
    fs::remove(part, error);
    return false;
  }
  fs::rename(part, to, error);
  if (error) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return false;
  }
  return true;
}

bool copyAndAdd(const std::string& sourcePath, TForm_kjsc2& queue) {
  const std::string folder =
      localCourseFolder(text::utf8ToGbk(platform::dataDir()), ClientState.teacherName,
                        ClientState.teacherPhone, QDate::currentDate().toString("yyyy-MM").toStdString());
  const std::string target = folder + "/" + fileNamePart(sourcePath);
  if (!copyReplacing(text::gbkToUtf8(sourcePath), text::gbkToUtf8(target))) {
    ui::showMessage(text::utf8ToGbk("文件复制失败，文件名为：") + sourcePath, &queue);
    return false;
  }
  return queue.AddFile(sourcePath, target);
}

}  // namespace courseware
