#pragma once
// Process-wide switches shared by the windows.

// The test features (light sequences, style list, web bridge controls) are shown while this is on.
extern bool TestMode;
