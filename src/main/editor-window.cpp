#include "editor-window.h"

#include "qssmanager.h"
#include "render/display-window.h"
#include "render/render-manager.h"
#include "resource/resource-widget.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "zyapp.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QSplitter>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The frame requests of the player, recorder and exporter reach the clip
// view; its answers go back to the render manager on the asking thread.
void connectTimelineToRender(TimeLineWidget* timeline, ToolBarWidget* toolbar, RenderManager* render) {
    TimeLineGraphicsView* view = timeline->view();
    QObject::connect(render, &RenderManager::sig_resetFrame, view, &TimeLineGraphicsView::slot_resetFrame);
    QObject::connect(render, &RenderManager::sig_frontFrameRequest, view,
                     &TimeLineGraphicsView::slot_frontFrameRequest);
    QObject::connect(render, &RenderManager::sig_backFrameRequest, view, &TimeLineGraphicsView::slot_backFrameRequest);
    QObject::connect(render, &RenderManager::sig_audioSourceItem, view, &TimeLineGraphicsView::slot_audioSourceItem);
    QObject::connect(render, &RenderManager::sig_startExportPrepare, view,
                     &TimeLineGraphicsView::slot_startExportPrepare);
    QObject::connect(render, &RenderManager::sig_stopExportPrepare, view,
                     &TimeLineGraphicsView::slot_stopExportPrepare);
    QObject::connect(view, &TimeLineGraphicsView::sig_deliverAudio, render, &RenderManager::deliverAudio,
                     Qt::DirectConnection);
    QObject::connect(view, &TimeLineGraphicsView::sig_deliverExportFrame, render, &RenderManager::deliverExportFrame,
                     Qt::DirectConnection);
    QObject::connect(timeline, &TimeLineWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_recordAudio, render, &RenderManager::slot_recordAudio);
}

void connectToolbarToTimeline(ToolBarWidget* toolbar, TimeLineWidget* timeline) {
    QObject::connect(toolbar, &ToolBarWidget::sig_splitSourceItem, timeline, &TimeLineWidget::slot_splitSourceItem);
    QObject::connect(toolbar, &ToolBarWidget::sig_editSourceItem, timeline, &TimeLineWidget::slot_editSourceItem);
    QObject::connect(toolbar, &ToolBarWidget::sig_clearSourceItems, timeline,
                     &TimeLineWidget::slot_clearSourceItems);
    QObject::connect(toolbar, &ToolBarWidget::sig_scaleSliderValue, timeline,
                     &TimeLineWidget::slot_scaleSliderValue);
    QObject::connect(toolbar, &ToolBarWidget::sig_autoAlign, timeline, &TimeLineWidget::slot_autoAlign);
    QObject::connect(timeline, &TimeLineWidget::sig_scaleSliderValueChanged, toolbar,
                     &ToolBarWidget::slot_scaleSliderValueChanged);
    QObject::connect(timeline, &TimeLineWidget::sig_splitButtonEnable, toolbar,
                     &ToolBarWidget::slot_splitButtonEnable);
    QObject::connect(timeline, &TimeLineWidget::sig_editButtonEnable, toolbar,
                     &ToolBarWidget::slot_editButtonEnable);
    QObject::connect(timeline, &TimeLineWidget::sig_showTime, toolbar, &ToolBarWidget::slot_showTime);
    // The toolbar undoes and redoes itself; the preview then shows the result.
    QObject::connect(&zya::UndoController::instance()->stack, &QUndoStack::indexChanged, timeline,
                     [timeline] { timeline->slot_updatePreview(); });
}

// The panels' requests reach the timeline; the timeline's clicks open the panels.
void connectResourceToTimeline(ResourceWidget* resource, TimeLineWidget* timeline) {
    QObject::connect(timeline, &TimeLineWidget::sig_showMenu, resource, &ResourceWidget::slot_showMenu);
    QObject::connect(resource, &ResourceWidget::sig_updateData, timeline, &TimeLineWidget::slot_updateData);
    QObject::connect(resource, &ResourceWidget::sig_openProject, resource,
                     [](QString path) { ZyApp::instance()->openProject(path); });
}

QWidget* createPreview(QWidget* parent, RenderManager* render) {
    auto* preview = new ZyeDisplayWindow(parent);
    preview->setObjectName(QStringLiteral("widget_preview"));
    preview->setScene(render->scene());
    QObject::connect(render, &RenderManager::sig_sendScene, preview, &ZyeDisplayWindow::setScene);
    // Until the preview panel brings its zoom slider, the canvas fits the window.
    auto fit = [preview, render] {
        if (ZyeGsView* view = preview->view()) {
            double zoom = std::min(double(view->width()) / render->sceneWidth(),
                                   double(view->height()) / render->sceneHeight());
            view->setZoom(zoom * 0.95);
        }
    };
    QObject::connect(preview, &ZyeDisplayWindow::ViewCreated, preview, fit);
    QObject::connect(preview, &ZyeDisplayWindow::ViewResized, preview, fit);
    return preview;
}

} // namespace

QWidget* createEditorWindow(RenderManager* render) {
    const double dpi = QssManager::dpiScale();
    auto* window = new QMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow.Title"));
    auto* central = new QWidget(window);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Library and preview on top, toolbar and timeline below; the user moves both borders.
    auto* vertical = new QSplitter(Qt::Vertical, central);
    vertical->setObjectName(QStringLiteral("splitter_vertical"));
    vertical->setChildrenCollapsible(false);
    auto* horizontal = new QSplitter(Qt::Horizontal, vertical);
    horizontal->setObjectName(QStringLiteral("splitter_horizontal"));
    horizontal->setChildrenCollapsible(false);
    auto* resource = new ResourceWidget(horizontal);
    resource->setObjectName(QStringLiteral("widget_resource"));
    resource->setMinimumWidth(int(580 * dpi));
    QWidget* preview = createPreview(horizontal, render);
    preview->setMinimumHeight(int(160 * dpi));
    horizontal->addWidget(resource);
    horizontal->addWidget(preview);
    horizontal->setStretchFactor(0, 4);
    horizontal->setStretchFactor(1, 6);

    auto* control = new QWidget(vertical);
    control->setObjectName(QStringLiteral("widget_control"));
    auto* controlLayout = new QVBoxLayout(control);
    controlLayout->setContentsMargins(0, 0, 0, 0);
    controlLayout->setSpacing(0);
    auto* toolbar = new ToolBarWidget(control);
    toolbar->setObjectName(QStringLiteral("widget_toolbar"));
    auto* timeline = new TimeLineWidget(control);
    timeline->setObjectName(QStringLiteral("widget_timeline"));
    timeline->model()->setRenderManager(render);
    controlLayout->addWidget(toolbar);
    controlLayout->addWidget(timeline, 1);
    control->setMinimumHeight(int(160 * dpi));
    vertical->addWidget(horizontal);
    vertical->addWidget(control);
    vertical->setStretchFactor(0, 4);
    vertical->setStretchFactor(1, 6);
    layout->addWidget(vertical, 1);

    connectToolbarToTimeline(toolbar, timeline);
    connectTimelineToRender(timeline, toolbar, render);
    connectResourceToTimeline(resource, timeline);

    central->setStyleSheet(QStringLiteral("background-color: rgb(50, 50, 50);"));
    window->setCentralWidget(central);
    new QssManager(central, true);
    window->resize(int(1200 * dpi), int(800 * dpi));
    vertical->setSizes({int(420 * dpi), int(380 * dpi)});
    horizontal->setSizes({int(580 * dpi), int(620 * dpi)});
    return window;
}
