#include "courseware/copy_and_add.h"

#include <QDate>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "courseware/kjsc2.h"
#include "courseware/queue_texts.h"
#include "platform/data_dir.h"
#include "platform/safe_file.h"
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
  // Neither name is written through a planted link or waited on as a FIFO:
  // such a thing is moved aside and told on standard error.
  const std::string part =
      (to.parent_path() / ("." + to.filename().string() + newGuidText() + ".part")).string();
  std::vector<std::string> movedAside;
  std::string why;
  bool copied = platform::copyToFresh(source, part, &movedAside, &why);
  copied = copied && platform::giveName(part, target, &movedAside, &why);
  for (const std::string& line : movedAside) std::fprintf(stderr, "courseware copy %s\n", line.c_str());
  if (!copied) fs::remove(part, error);
  return copied;
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
