// The upload queue's part of the program-wide hook table: a login or logout
// empties it, the main panel and the file-choice page ask how full it is and
// whether it is uploading, and hand it the files they are given.
#pragma once

class TForm_kjsc2;

namespace courseware {

void installQueueHooks(TForm_kjsc2& queue);

}  // namespace courseware
