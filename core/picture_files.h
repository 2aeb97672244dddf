// The lesson pictures as files: which are in use (being written or posted),
// whether one is whole, and what a killed write left behind. Shared by the
// screenshot tick, the delivery of kept pictures and the retention pass,
// which runs on a worker: a picture in use is never removed under a writer
// or a post, nor the folder it is going into.
#pragma once

#include <filesystem>
#include <string>

namespace pictures {

// A picture is written under its name with this ending and renamed when it
// is complete.
inline constexpr const char* kUnfinishedSuffix = ".part";

// Marks the picture `diskPath` (its name on disk) as in use for the life of
// the object; the folders it lies in count as in use too.
class PictureInUse {
 public:
  explicit PictureInUse(std::string diskPath);
  ~PictureInUse();
  PictureInUse(const PictureInUse&) = delete;
  PictureInUse& operator=(const PictureInUse&) = delete;

 private:
  std::string diskPath_;
};

// Removes the file `path`, or the folder `path` when it is empty, unless a
// picture in use is that file or lies below that folder. True when it went.
bool removeUnlessInUse(const std::filesystem::path& path);

// A JPEG that was written to its end: it begins with the start-of-image
// marker and ends with the end-of-image marker.
bool isWholeJpeg(const std::string& diskPath);

// Removes what writes cut off by a kill or a power loss left below `folder`
// (files with the unfinished ending); returns how many went.
int removeUnfinishedWrites(const std::string& folder);

}  // namespace pictures
