#include "preview-widget.h"

#include "render/preview-window.h"
#include "render/render-manager.h"
#include "ui_preview-widget.h"
#include "value/interface.h"

#include <QFile>
#include <QWheelEvent>

PreviewWidget::PreviewWidget(RenderManager* render, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::PreviewWidget>()), m_render(render) {
    qRegisterMetaType<int64_t>("int64_t");
    m_ui->setupUi(this);
    // Pixel lengths in the sheet are for 96 DPI; the caller's QssManager may rescale it.
    QFile css(QStringLiteral(":/qss/preview-widget.css"));
    if (css.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(css.readAll()));
    else
        LOGW("no style sheet %s", ":/qss/preview-widget.css");

    m_ui->horizontalSlider_scale->setRange(kScaleMin, kScaleMax);
    m_ui->horizontalSlider_scale->setValue(kScaleStart);
    m_ui->horizontalSlider_scale->installEventFilter(this);
    m_sliderValue = m_ui->horizontalSlider_scale->value();
    m_zoom = zoomFor(m_sliderValue);

    // Shortcuts reach the buttons through these signals.
    connect(this, &PreviewWidget::sig_toolButtonFront, m_ui->toolButton_front, &QToolButton::click);
    connect(this, &PreviewWidget::sig_toolButtonBack, m_ui->toolButton_back, &QToolButton::click);
    connect(this, &PreviewWidget::sig_toolButtonPlay, m_ui->toolButton_play, &QToolButton::click);
    connect(this, &PreviewWidget::sig_toolButtonReplay, m_ui->toolButton_replay, &QToolButton::click);

    ZyePreviewWindow* window = m_ui->widget_display;
    connect(window, &ZyePreviewWindow::sig_removeSourceItem, this, &PreviewWidget::sig_removeSourceItem);
    connect(window, &ZyeDisplayWindow::ViewCreated, this, [this] {
        applyZoom();
        emit sig_queryScene(); // the new view shows the current scene
    });
    if (m_render) {
        connect(this, &PreviewWidget::sig_queryScene, m_render, &RenderManager::sig_queryScene);
        connect(m_render, &RenderManager::sig_sendScene, this, &PreviewWidget::slot_setScene);
        connect(m_render, &RenderManager::sig_controlPlay, m_ui->toolButton_play, &QToolButton::click);
        connect(this, &PreviewWidget::sig_opertorUi, m_render, &RenderManager::slot_opertorUi);
        connect(window, &ZyePreviewWindow::sig_closeMenu, m_render, &RenderManager::sig_closeMenu);
        connect(window, &ZyeDisplayWindow::ViewResized, this, &PreviewWidget::applyZoom);
        connect(m_render, &RenderManager::sig_updateSceneSize, this, &PreviewWidget::applyZoom);
        emit sig_queryScene();
    }
}

PreviewWidget::~PreviewWidget() = default;

ZyePreviewWindow* PreviewWidget::previewWindow() const {
    return m_ui->widget_display;
}

double PreviewWidget::zoomFor(int sliderValue) {
    return 1.0 + 0.1 * (kScaleStart - sliderValue);
}

QString PreviewWidget::timeText(int64_t frame) {
    if (frame < 0) {
        LOGW("negative time %lld shown as 0", static_cast<long long>(frame));
        frame = 0;
    }
    const int64_t seconds = frame / 30;
    const auto two = [](int64_t v) {
        return QStringLiteral("%1").arg(qlonglong(v), 2, 10, QLatin1Char('0'));
    };
    return QStringLiteral("%1:%2:%3,%4")
        .arg(two(seconds / 60 / 60), two(seconds / 60 % 60), two(seconds % 60), two(frame - seconds * 30));
}

void PreviewWidget::slot_setScene(GsScene* scene) {
    m_ui->widget_display->setScene(scene);
}

void PreviewWidget::on_toolButton_front_clicked() {
    emit sig_opertorUi(false, true); // a running recording stops first
    if (m_render)
        emit m_render->sig_frontFrameRequest(MoveStep, EditManual, 1, 30);
}

void PreviewWidget::on_toolButton_back_clicked() {
    emit sig_opertorUi(false, true);
    if (m_render)
        emit m_render->sig_backFrameRequest(MoveStep, EditManual, 1, 30);
}

void PreviewWidget::on_toolButton_play_clicked(bool checked) {
    if (m_render && m_render->isRecording()) {
        emit sig_opertorUi(false, true);
        m_ui->toolButton_play->setChecked(false);
        return;
    }
    // Play at the end plays again from the start, as Replay does.
    if (m_render && checked && m_shownTotal > 0 && m_shownFrame >= m_shownTotal - 1)
        emit m_render->sig_resetFrame(0, EditPlayback, true);
    if (m_render)
        m_render->setPlaying(checked);
}

void PreviewWidget::on_toolButton_replay_clicked() {
    emit sig_opertorUi(false, true);
    if (m_render)
        emit m_render->sig_resetFrame(0, EditPlayback, true);
    m_ui->toolButton_play->setChecked(true);
    if (m_render)
        m_render->setPlaying(true);
}

void PreviewWidget::on_toolButton_full_clicked() {
    emit sig_toolButtonFull();
}

void PreviewWidget::slot_showTime(int64_t current, int64_t total) {
    m_shownFrame = current;
    m_shownTotal = total;
    m_ui->label_time->setText(timeText(current) + QStringLiteral(" / ") + timeText(total));
}

void PreviewWidget::on_horizontalSlider_scale_valueChanged(int value) {
    // Every step down adds 0.1, every step up takes 0.1 away; computed from
    // the value itself so repeated turns never drift.
    m_sliderValue = value;
    m_zoom = zoomFor(value);
    applyZoom();
}

void PreviewWidget::applyZoom() {
    ZyeGsView* view = m_ui->widget_display->view();
    if (!view)
        return;
    // The slider's zoom is relative to the canvas fitted into the panel, so
    // a 1080p canvas is seen whole in a small window at the start.
    double fit = 1.0;
    if (m_render && m_render->sceneWidth() > 0 && m_render->sceneHeight() > 0 && view->width() > 0 &&
        view->height() > 0)
        fit = std::min(double(view->width()) / m_render->sceneWidth(),
                       double(view->height()) / m_render->sceneHeight());
    view->setZoom(m_zoom * fit);
}

void PreviewWidget::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0) {
        event->ignore();
        return;
    }
    QSlider* slider = m_ui->horizontalSlider_scale;
    slider->setValue(slider->value() + (dy < 1 ? 1 : -1));
    event->accept();
}

bool PreviewWidget::eventFilter(QObject* watched, QEvent* event) {
    // The slider would turn the other way by itself: one rule for the whole panel.
    if (watched == m_ui->horizontalSlider_scale && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
