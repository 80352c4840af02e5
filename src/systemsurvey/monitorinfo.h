#pragma once

namespace systemsurvey {

// One screen as the window system reports it.
struct TMonitorInfo {
    int Width = 0;  // pixels
    int Height = 0; // pixels
    bool Primary = false;
    unsigned int RefreshRate = 0; // Hz, fractions dropped
};

} // namespace systemsurvey
