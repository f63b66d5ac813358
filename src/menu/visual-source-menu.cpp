#include "menu/visual-source-menu.h"

#include "menu/crop-view.h"
#include "menu/menu-form.h"
#include "values/timeline-keys.h"
#include "value/interface.h"
#include "values/value-qt.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QByteArray formName(const char* prefix, const char* name) {
    return QByteArray(prefix) + name;
}

} // namespace

VisualSourceMenu::VisualSourceMenu(MenuType type, const char* prefix, const char* keys, bool sound,
                                   QWidget* parent)
    : AbstractMenu(parent), m_type(type) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* tabRow = new QWidget(this);
    tabRow->setObjectName(QStringLiteral("widget_tabs"));
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("stackedWidget"));
    m_tabs = new menu::TabSet(this, tabRow, m_pages);
    const bool video = type == MenuVideo;
    m_tabs->addTab("pushButton_edit", menu::text(keys, "Edit"), buildEditPage(prefix, keys, sound));
    m_tabs->addTab("pushButton_clip",
                   video ? menu::text("video_source_menu", "Clip") : menu::text(keys, "Split"),
                   buildCropPage());
    // The form's third tab carries nothing and is never shown.
    m_tabs->addTab("pushButton_hidden", QString(), new QWidget(m_pages))->hide();
    layout->addWidget(tabRow);
    layout->addWidget(m_pages, 1);
    connect(m_tabs->group(), &QButtonGroup::idClicked, this, &VisualSourceMenu::switchPage);
    connect(m_cropView, &CropView::sig_updateClipRect, this, &VisualSourceMenu::slot_updateClipRect);
}

VisualSourceMenu::~VisualSourceMenu() {
    delete m_tabs;
}

QWidget* VisualSourceMenu::buildEditPage(const char* prefix, const char* keys, bool sound) {
    auto* scroll = new QScrollArea(m_pages);
    scroll->setObjectName(QStringLiteral("page_edit"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* page = new QWidget(scroll);
    page->setObjectName(QStringLiteral("widget_edit"));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(8);
    const bool video = m_type == MenuVideo;
    int row = 0;

    m_name = menu::readOnlyField(page, formName(prefix, "Name"));
    m_path = menu::readOnlyField(page, formName(prefix, "Path"));
    menu::addRow(grid, row++, menu::text(keys, video ? "SourceName" : "Name"), m_name);
    menu::addRow(grid, row++, menu::text(keys, video ? "FilePath" : "Path"), m_path);

    row = m_place.build(
        page, grid, row, keys,
        {{formName(prefix, "X"), formName(prefix, "Y"), formName(prefix, "Width"), formName(prefix, "Height"),
          formName(prefix, "Angle"), formName(prefix, "Transparency")},
         {"Pos", "Width", "Height", "rotate", "Tranparent"}});

    m_contrast = menu::spinBox(page, "spinBox_contrast", -50, 50);
    m_bright = menu::spinBox(page, "spinBox_bright", -50, 50);
    m_hue = menu::spinBox(page, "spinBox_hue", -50, 50);
    m_temperature = menu::spinBox(page, "spinBox_temperature", -50, 50);
    m_saturation = menu::spinBox(page, "spinBox_saturability", -50, 50);
    m_highlight = menu::spinBox(page, "spinBox_highlight", 0, 50);
    menu::addRow(grid, row++, menu::text(keys, "Contrast"), m_contrast);
    menu::addRow(grid, row++, menu::text(keys, "Bright"), m_bright);
    menu::addRow(grid, row++, menu::text(keys, "Hue"), m_hue);
    menu::addRow(grid, row++, menu::text(keys, "Temperature"), m_temperature);
    menu::addRow(grid, row++, menu::text(keys, "Saturation"), m_saturation);
    menu::addRow(grid, row++, menu::text(keys, "Highlight"), m_highlight);

    if (sound) {
        auto* volume = new QWidget(page);
        auto* volumeRow = new QHBoxLayout(volume);
        volumeRow->setContentsMargins(0, 0, 0, 0);
        m_volume = new QSlider(Qt::Horizontal, volume);
        m_volume->setObjectName(formName(prefix, "VolumeSlider"));
        m_volume->setRange(0, 128);
        m_volume->setValue(55);
        menu::makeDragOneUndoStep(m_volume, QStringLiteral("Volume"));
        m_volumeLabel = new QLabel(QString::number(m_volume->value()), volume);
        m_volumeLabel->setObjectName(formName(prefix, "VolumeLabel"));
        m_volumeLabel->setMinimumWidth(28);
        volumeRow->addWidget(m_volume, 1);
        volumeRow->addWidget(m_volumeLabel);
        menu::addRow(grid, row++, menu::text(keys, "volumn"), volume);
        m_mute = new QCheckBox(menu::text(keys, "mute"), page);
        m_mute->setObjectName(formName(prefix, "Mute"));
        grid->addWidget(m_mute, row++, 1);
    }

    auto* fill = new QWidget(page);
    auto* fillRow = new QHBoxLayout(fill);
    fillRow->setContentsMargins(0, 0, 0, 0);
    m_adaptive = new QPushButton(menu::text(keys, "AutoFit"), fill);
    m_adaptive->setObjectName(QStringLiteral("selfAdaption"));
    m_stretch = new QPushButton(menu::text(keys, "Scale"), fill);
    m_stretch->setObjectName(QStringLiteral("stretch"));
    m_full = new QPushButton(menu::text(keys, "Origin"), fill);
    m_full->setObjectName(QStringLiteral("initialSize"));
    for (QPushButton* b : {m_adaptive, m_stretch, m_full})
        fillRow->addWidget(b);
    menu::addRow(grid, row++, menu::text(keys, "Fill"), fill);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    scroll->setWidget(page);
    menu::scrollPastFields(scroll);
    return scroll;
}

QWidget* VisualSourceMenu::buildCropPage() {
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("page_clip"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 10);
    m_cropView = new CropView(page);
    m_cropView->setObjectName(QStringLiteral("cropView"));
    m_cropView->setMinimumHeight(180);
    layout->addWidget(m_cropView, 1);
    auto* buttons = new QHBoxLayout;
    m_keepRate = new QRadioButton(menu::text("source_clip_menu", "KeepRate"), page);
    m_keepRate->setObjectName(QStringLiteral("radioButton_keepRate"));
    m_fill = new QRadioButton(menu::text("source_clip_menu", "Fill"), page);
    m_fill->setObjectName(QStringLiteral("radioButton_fill"));
    m_fitGroup = new QButtonGroup(this);
    m_fitGroup->addButton(m_keepRate, 0);
    m_fitGroup->addButton(m_fill, 1);
    m_keepRate->setChecked(true);
    m_cropButton = new QPushButton(menu::text("video_source_menu", "Crop"), page);
    m_cropButton->setObjectName(QStringLiteral("clip"));
    buttons->addWidget(m_keepRate);
    buttons->addWidget(m_fill);
    buttons->addStretch(1);
    buttons->addWidget(m_cropButton);
    layout->addLayout(buttons);
    connect(m_fitGroup, &QButtonGroup::idClicked, this, &VisualSourceMenu::slot_radioButtonClicked);
    connect(m_cropButton, &QPushButton::clicked, this, &VisualSourceMenu::on_clip_clicked);
    return page;
}

int VisualSourceMenu::currentPage() const {
    return m_pages->currentIndex();
}

void VisualSourceMenu::UpdateData(bg::ValueMap map) {
    if (m_tabs->isChecked(PageEdit))
        m_pages->setCurrentIndex(PageEdit);
    else if (m_tabs->isChecked(PageCrop))
        m_pages->setCurrentIndex(PageCrop);

    const QString path = QString::fromStdString(map.get(tlkey::Path).toStdString());
    m_uuid = QString::fromStdString(map.get(tlkey::Uuid).toStdString());
    if (map.contains(tlkey::Rect)) {
        const bg::Value rect = map.get(tlkey::Rect);
        const QRect r = bg::toQRect(rect); // logs a value of another type
        if (rect.type() == bg::VT_RECT)
            m_clipRect = r;
    }
    if (map.contains(tlkey::Size)) {
        const bg::Value size = map.get(tlkey::Size);
        const QSize s = bg::toQSize(size);
        if (size.type() == bg::VT_SIZE)
            m_sourceSize = s;
    }
    m_strech = map.get(tlkey::Strech).toInt(m_strech);

    {
        const QSignalBlocker quietName(m_name);
        m_name->setText(QFileInfo(path).fileName());
    }
    m_path->setText(path);
    m_place.load(map);
    menu::setQuietly(m_temperature, map.get(tlkey::Temperature).toInt());
    menu::setQuietly(m_saturation, map.get(tlkey::Saturation).toInt());
    menu::setQuietly(m_hue, map.get(tlkey::Hue).toInt());
    menu::setQuietly(m_contrast, map.get(tlkey::Contrast).toInt());
    menu::setQuietly(m_bright, map.get(tlkey::Bright).toInt());
    menu::setQuietly(m_highlight, map.get(tlkey::Highlight).toInt());
    if (m_volume) {
        const QSignalBlocker quietVolume(m_volume);
        const QSignalBlocker quietMute(m_mute);
        m_volume->setValue(map.get(tlkey::Volume).toInt(m_volume->value()));
        m_volumeLabel->setText(QString::number(m_volume->value()));
        m_mute->setChecked(map.get(tlkey::Mute).toBool());
    }
    m_cropView->setup(m_uuid, m_sourceSize, m_clipRect);
    checkFitButton();
}

bg::ValueMap VisualSourceMenu::valueMap() const {
    bg::ValueMap map;
    m_place.write(map);
    if (m_volume) {
        map[tlkey::Volume] = bg::Value(m_volume->value());
        map[tlkey::Mute] = bg::Value(m_mute->isChecked());
    }
    map[tlkey::Strech] = bg::Value(m_strech);
    map[tlkey::SizeType] = bg::Value(m_sizeType);
    map[tlkey::Rect] = bg::ValueQt(m_clipRect);
    map[tlkey::Temperature] = bg::Value(m_temperature->value());
    map[tlkey::Saturation] = bg::Value(m_saturation->value());
    map[tlkey::Hue] = bg::Value(m_hue->value());
    map[tlkey::Contrast] = bg::Value(m_contrast->value());
    map[tlkey::Bright] = bg::Value(m_bright->value());
    map[tlkey::Highlight] = bg::Value(m_highlight->value());
    return map;
}

void VisualSourceMenu::checkFitButton() {
    const QSignalBlocker quiet(m_fitGroup);
    (m_strech == 1 ? m_keepRate : m_fill)->setChecked(true);
}

void VisualSourceMenu::sendEdit(const char* datatype) {
    const bg::ValueMap map = valueMap();
    checkFitButton();
    m_sizeType = SizeNone; // a size command travels with exactly one edit
    emit sig_updateData(m_type, map, datatype);
    menu::requestPreviewUpdate();
}

void VisualSourceMenu::sendSpinEdit(QSpinBox* box, const char* datatype, bool dropFocus) {
    if (dropFocus)
        box->clearFocus();
    sendEdit(datatype);
}

void VisualSourceMenu::volumeChanged(int value) {
    sendEdit(tlkey::Volume);
    m_volumeLabel->setText(QString::number(value));
}

void VisualSourceMenu::fitAdaptive() {
    m_strech = 1;
    m_sizeType = SizeAdaptive;
    sendEdit(tlkey::Strech);
}

void VisualSourceMenu::fitStretch() {
    m_strech = 0;
    m_sizeType = SizeStretch;
    sendEdit(tlkey::Strech);
}

void VisualSourceMenu::fitFull() {
    m_sizeType = SizeFull;
    sendEdit(tlkey::SizeType);
}

void VisualSourceMenu::slot_radioButtonClicked(int) {
    m_strech = m_keepRate->isChecked() ? 1 : 0;
    sendEdit(tlkey::Strech);
}

void VisualSourceMenu::slot_updateClipRect(QString uuid, QRect rect) {
    Q_UNUSED(uuid);
    m_clipRect = rect;
    sendEdit(tlkey::Rect);
}

void VisualSourceMenu::on_clip_clicked() {
    emit sig_clip(m_uuid, m_sourceSize, m_clipRect, m_strech == 1 ? StretchKeepRatio : StretchFill, true);
}

void VisualSourceMenu::switchPage(int page) {
    if (page < 0 || page >= m_pages->count())
        return;
    m_pages->setCurrentIndex(page); // a crop view that shows asks for the frame
}

void VisualSourceMenu::slot_updateClipImage(QList<VFrameInfo> frames) {
    if (m_pages->currentIndex() != PageCrop || !isVisible())
        return;
    m_cropView->updateFrames(frames);
}
