// The main panel's page keys. The panel's tabs are named after the pages'
// buttons in the design ("suiImageButton2"...), and those names are the keys
// by which every window asks the panel for a page: use these constants, so
// that a misspelt key fails to compile instead of being ignored.
#pragma once

namespace PageKey {

inline constexpr char ClassStart[] = "suiImageButton2";     // 设备计时: Tform_skjs
inline constexpr char FileChoice[] = "suiImageButton3";     // 课件上传, no file queued: TForm_kjsc
inline constexpr char Repair[] = "suiImageButton4";         // 设备报修: Tform_sbbx
inline constexpr char Offline[] = "suiImageButton5";        // 离线上传: TForm10
inline constexpr char UploadQueue[] = "suiImageButton6";    // 课件上传 with files queued: TForm_kjsc2
inline constexpr char LessonHistory[] = "suiImageButton7";  // 查看历史上课数据: no such page
inline constexpr char RepairHistory[] = "suiImageButton9";  // 设备报修记录: TForm9

}  // namespace PageKey
