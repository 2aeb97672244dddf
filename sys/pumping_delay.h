// A wait that keeps the window alive: timers, clicks and server replies of
// the calling (UI) thread are handled while it runs, so the caller must
// expect its own state to have changed when it returns.
#pragma once

// Returns after at least `ms` milliseconds (at once for ms <= 0, having
// handled what was pending). Without an application object it just sleeps.
void pumpingDelay(int ms);
