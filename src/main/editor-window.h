// The editor's window as far as its panels exist: the resource panel and
// the preview side by side above the toolbar and the timeline, wired to
// each other and to the render manager.
#pragma once

class QWidget;
class RenderManager;

// The caller owns the window.
QWidget* createEditorWindow(RenderManager* render);
