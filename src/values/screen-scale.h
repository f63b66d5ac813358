// The screen's scale against 96 DPI, shared by every window and the timeline.
#pragma once

// Logical DPI of the primary screen / 96, read afresh each call; 1 without a screen.
double screenDpiScale();
