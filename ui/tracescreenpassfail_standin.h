// Hook for the pass/fail trace screen until the pass/fail panel brings its own class: the
// layouts ask this function for the screen that draws the pass/fail mask trace.
#pragma once

class QQuickItem;
class TraceScreen;

// A trace screen with mask 0x1000 (the mask trace), owned by `parent`.
TraceScreen* newPassFailTraceScreen(QQuickItem* parent, int x, int y, int width, int height);
