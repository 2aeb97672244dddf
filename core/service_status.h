// The one line of state the service manager shows for the client
// ("systemctl --user status edu-client"): who is signed in, the lesson's
// time, what waits for the server, the lesson pictures that could not be
// taken (a failed or blank capture).
#pragma once

#include <optional>
#include <string>

#include "state/client_state.h"

// UTF-8, e.g. "signed in: 张伟, lesson 12:05, 3 items waiting" or
// "signed out, nothing waiting"; ", 2 screenshots not taken" follows when
// captures failed or came back blank since the start.
// `lessonSeconds`: the running lesson's time, nothing when none runs.
std::string serviceStatusLine(const ClientStateRecord& state, std::optional<int> lessonSeconds,
                              int itemsWaiting, int capturesRefused = 0);
