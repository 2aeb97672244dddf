// Queuing one courseware file: the file is copied into the local courseware
// folder below the program, "courseware/<teacher name><telephone>/yyyy-mm/",
// under its own name (replacing an earlier copy), and the copy is added to
// the upload queue. Used by the file-choice page and the main panel's drop.
#pragma once

#include <string>

class TForm_kjsc2;

namespace courseware {

// "<dataDir>/courseware/<teacherName><teacherPhone>/<month>" (GBK, no
// trailing "/").
std::string localCourseFolder(const std::string& dataDir, const std::string& teacherName,
                              const std::string& teacherPhone, const std::string& month);

// Copies `target` from `source` (both named as the file system spells them),
// creating the folders above it. The copy is written beside the target and
// renamed over it, so a reader of the earlier copy (the queue hashing or
// sending it) keeps whole content, and a failed copy leaves it as it was.
// A source that already is the target counts as copied.
bool copyReplacing(const std::string& source, const std::string& target);

// Copies `sourcePath` (GBK) into the teacher's folder of this month and
// queues it; on failure the teacher is told "文件复制失败，文件名为：" and
// the path, and nothing is queued. Returns whether the file was queued.
bool copyAndAdd(const std::string& sourcePath, TForm_kjsc2& queue);

}  // namespace courseware
