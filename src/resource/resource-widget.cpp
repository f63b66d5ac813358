#include "resource/resource-widget.h"

#include "menu/crop-menu.h"
#include "menu/image-menu.h"
#include "menu/sound-source-menu.h"
#include "menu/subtitle-menu.h"
#include "menu/trans-menu.h"
#include "menu/video-menu.h"
#include "resource/empty-material-widget.h"
#include "resource/gif-view.h"
#include "resource/material-view.h"
#include "resource/project/historylist-view.h"
#include "resource/transition-view.h"
#include "value/interface.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct FilterRow {
    const char* key;
    const char* icon;
    uint32_t mask;
};
const std::array<FilterRow, 6> kFilters {{
    {"res_form.AllLabel", ":/image/all.png", kAllMaterials},
    {"res_form.Video", ":/image/item_mv.png", Movie},
    {"res_form.Image", ":/image/item_pic.png", Image},
    {"res_form.Music", ":/image/item_audio.png", Music},
    {"res_form.Audio", ":/image/item_mic.png", Mic},
    {"res_form.Subtitle", ":/image/item_text.png", Text},
}};

struct PageButton {
    const char* name;
    const char* key;
    const char* icon; // "-default.png" and "-hover.png" follow
};
const std::array<PageButton, 4> kPages {{
    {"pushButton_material", "res_form.Title", ":/image/resource-element"},
    {"pushButton_transition", "res_form.Transition", ":/image/resource-Transition"},
    {"pushButton_gif", "res_form.gif", ":/image/resource-gif"},
    {"pushButton_works", "res_form.File", ":/image/resource-works"},
}};

// Shows the hover icon while the pointer is over the button or it is checked.
class PageToolButton : public QToolButton {
public:
    PageToolButton(const QString& icon, QWidget* parent)
        : QToolButton(parent), m_default(icon + QStringLiteral("-default.png")),
          m_hover(icon + QStringLiteral("-hover.png")) {
        setCheckable(true);
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        setIcon(m_default);
        connect(this, &QToolButton::toggled, this, [this] { refresh(); });
    }

protected:
    void enterEvent(QEvent* event) override {
        m_inside = true;
        refresh();
        QToolButton::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        m_inside = false;
        refresh();
        QToolButton::leaveEvent(event);
    }

private:
    void refresh() { setIcon((m_inside || isChecked()) ? m_hover : m_default); }
    QIcon m_default, m_hover;
    bool m_inside = false;
};

// The combo box measures its rows without the style sheet's padding, so a
// long row ("Subtitle") came out elided. Widened until the field the style
// leaves for the text holds the longest row with its icon.
void fitToLongestRow(QComboBox* combo) {
    combo->ensurePolished();
    const QFontMetrics metrics(combo->font());
    int needed = 0;
    for (int i = 0; i < combo->count(); ++i) {
        const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
        needed = std::max(needed, metrics.horizontalAdvance(combo->itemText(i)) + icon + 2);
    }
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = QRect(QPoint(0, 0), combo->sizeHint());
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    combo->setMinimumWidth(option.rect.width() + std::max(0, needed - field.width()));
}

} // namespace

ResourceWidget::ResourceWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ResourceWidget"));
    QFile css(QStringLiteral(":/qss/resource-widget.css"));
    if (css.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(css.readAll()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_faces = new QStackedWidget(this);
    m_faces->setObjectName(QStringLiteral("stackedWidget_main"));
    m_faces->addWidget(buildLibraryFace());
    m_faces->addWidget(buildPanelFace());
    layout->addWidget(m_faces);
    fitToLongestRow(m_classify); // with the sheet in place
    m_history = new HistoryListView(page(PageWorks));
    page(PageWorks)->layout()->addWidget(m_history);
    // Queued: opening a project replaces the history's rows, whose widget
    // is still handling the click.
    connect(m_history, &HistoryListView::signal_openProject, this, &ResourceWidget::sig_openProject,
            Qt::QueuedConnection);
    connect(m_history, &HistoryListView::signal_openEarlierVersion, this, &ResourceWidget::sig_openEarlierVersion,
            Qt::QueuedConnection);
    m_pageButtons->button(PageMaterial)->setChecked(true);
    slot_switch_page(PageMaterial);
    showMaterialCount(0);
}

QWidget* ResourceWidget::buildLibraryFace() {
    auto* face = new QWidget(m_faces);
    face->setObjectName(QStringLiteral("page_library"));
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* buttons = new QWidget(face);
    buttons->setObjectName(QStringLiteral("widget_pageButtons"));
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(8, 4, 8, 4);
    m_pageButtons = new QButtonGroup(this);
    m_pageButtons->setExclusive(true);
    for (int i = 0; i < int(kPages.size()); ++i) {
        auto* button = new PageToolButton(QLatin1String(kPages[size_t(i)].icon), buttons);
        button->setObjectName(QLatin1String(kPages[size_t(i)].name));
        button->setText(tr(kPages[size_t(i)].key));
        m_pageButtons->addButton(button, i);
        row->addWidget(button);
    }
    connect(m_pageButtons, &QButtonGroup::idClicked, this,
            &ResourceWidget::slot_switch_page);
    layout->addWidget(buttons);
    m_pages = new QStackedWidget(face);
    m_pages->setObjectName(QStringLiteral("stackedWidget_page"));
    m_pages->addWidget(buildMaterialPage());
    // The works page fills its page later.
    for (const char* name : {"page_transition", "page_gif", "page_works"}) {
        auto* page = new QWidget(m_pages);
        page->setObjectName(QLatin1String(name));
        new QVBoxLayout(page);
        m_pages->addWidget(page);
    }
    m_transitionView = new TransitionView(page(PageTransition));
    page(PageTransition)->layout()->addWidget(m_transitionView);
    m_gifView = new GifView(page(PageGif));
    page(PageGif)->layout()->addWidget(m_gifView);
    layout->addWidget(m_pages, 1);
    return face;
}

QWidget* ResourceWidget::buildMaterialPage() {
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("page_material"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 4, 8, 4);
    auto* tools = new QHBoxLayout;
    auto* add = new QPushButton(QIcon(QStringLiteral(":/image/resource-add.png")), tr("res_form.Add"), page);
    add->setObjectName(QStringLiteral("pushButton_add"));
    auto* remove =
        new QPushButton(QIcon(QStringLiteral(":/image/resource-delete.png")), tr("res_form.Delete_1"), page);
    remove->setObjectName(QStringLiteral("pushButton_remove"));
    m_classify = new QComboBox(page);
    m_classify->setObjectName(QStringLiteral("comboBox_classify"));
    for (const FilterRow& row : kFilters)
        m_classify->addItem(QIcon(QLatin1String(row.icon)), tr(row.key));
    m_scale = new QSlider(Qt::Horizontal, page);
    m_scale->setObjectName(QStringLiteral("horizontalSlider_scale"));
    m_scale->setRange(0, 6);
    m_scale->setPageStep(1);
    m_scale->setValue(m_lastScale);
    m_scale->setMaximumWidth(90);
    tools->addWidget(add);
    tools->addWidget(remove);
    tools->addStretch(1);
    tools->addWidget(m_classify);
    tools->addWidget(m_scale);
    layout->addLayout(tools);

    m_materialStack = new QStackedWidget(page);
    m_view = new MaterialView(m_materialStack);
    m_empty = new EmptyMaterialWidget(m_materialStack);
    m_materialStack->addWidget(m_view);
    m_materialStack->addWidget(m_empty);
    layout->addWidget(m_materialStack, 1);

    connect(add, &QPushButton::clicked, this, &ResourceWidget::on_pushButton_add_clicked);
    connect(remove, &QPushButton::clicked, this, &ResourceWidget::on_pushButton_remove_clicked);
    connect(m_classify, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ResourceWidget::on_comboBox_classify_currentIndexChanged);
    connect(m_scale, &QSlider::valueChanged, this, &ResourceWidget::on_horizontalSlider_scale_valueChanged);
    connect(m_view, &MaterialView::sig_MaterialNumChanged, this, &ResourceWidget::showMaterialCount);
    connect(m_view, &MaterialView::sig_scaleChanged, this,
            [this](int d) { m_scale->setValue(m_scale->value() + d); });
    connect(m_empty, &EmptyMaterialWidget::sig_addNewMaterial, this, &ResourceWidget::addFiles);
    connect(m_view, &MaterialView::sig_openProject, this, &ResourceWidget::sig_openProject);
    connect(m_view, &MaterialView::sig_locateMissing, this, &ResourceWidget::sig_locateMissing);
    connect(m_view, &MaterialView::sig_importSubtitles, this, &ResourceWidget::sig_importSubtitles);
    connect(m_empty, &EmptyMaterialWidget::sig_openProject, this, &ResourceWidget::sig_openProject);
    return page;
}

QWidget* ResourceWidget::buildPanelFace() {
    auto* face = new QWidget(m_faces);
    face->setObjectName(QStringLiteral("page_panels"));
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* back = new QPushButton(tr("res_form.back"), face);
    back->setObjectName(QStringLiteral("pushButton_back"));
    connect(back, &QPushButton::clicked, this, &ResourceWidget::on_pushButton_back_clicked);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(8, 4, 8, 4);
    top->addWidget(back);
    top->addStretch(1);
    layout->addLayout(top);
    m_panels = new QStackedWidget(face);
    m_panels->setObjectName(QStringLiteral("stackedWidget_menu"));
    auto* image = new ImageMenu(m_panels);
    auto* video = new VideoMenu(m_panels);
    m_menus = {image, video, new AudioMenu(m_panels), new SubtitleMenu(m_panels), new MusicMenu(m_panels),
               new TransMenu(m_panels)};
    for (AbstractMenu* menu : m_menus) {
        m_panels->addWidget(menu);
        connect(menu, &AbstractMenu::sig_updateData, this, &ResourceWidget::sig_updateData);
    }
    m_cropMenu = new CropMenu(m_panels);
    m_panels->addWidget(m_cropMenu);
    connect(m_cropMenu, &CropMenu::sig_updateData, this, &ResourceWidget::sig_updateData);
    connect(m_cropMenu, &CropMenu::sig_backMenu, this, [this](MenuType type) {
        if (int(type) >= 0 && int(type) < kPanelCount)
            m_panels->setCurrentIndex(int(type));
    });
    // The crop button of a visual panel opens the crop page for that clip;
    // its return button comes back to the same panel.
    const auto openCrop = [this](MenuType from) {
        return [this, from](QString uuid, QSize sourceSize, QRect clipRect, StretchType strech, bool) {
            m_cropMenu->open(from, uuid, sourceSize, clipRect, strech);
            m_panels->setCurrentWidget(m_cropMenu);
        };
    };
    connect(image, &VisualSourceMenu::sig_clip, this, openCrop(MenuPicture));
    connect(video, &VisualSourceMenu::sig_clip, this, openCrop(MenuVideo));
    layout->addWidget(m_panels, 1);
    return face;
}

MaterialManager* ResourceWidget::manager() const {
    return m_view->manager();
}

QWidget* ResourceWidget::page(Page page) const {
    return m_pages->widget(page);
}

QWidget* ResourceWidget::panel(MenuType type) const {
    return m_panels->widget(int(type));
}

AbstractMenu* ResourceWidget::menu(MenuType type) const {
    const int index = int(type);
    return index >= 0 && index < int(m_menus.size()) ? m_menus[size_t(index)] : nullptr;
}

bool ResourceWidget::showsPanels() const {
    return m_faces->currentIndex() == 1;
}

int ResourceWidget::currentPage() const {
    return m_pages->currentIndex();
}

MenuType ResourceWidget::currentPanel() const {
    return MenuType(m_panels->currentIndex());
}

uint32_t ResourceWidget::filterMask(int index) {
    return index >= 0 && index < int(kFilters.size()) ? kFilters[size_t(index)].mask : kAllMaterials;
}

void ResourceWidget::showMaterialCount(int count) {
    m_materialStack->setCurrentWidget(count == 0 ? static_cast<QWidget*>(m_empty) : m_view);
    if (count > 0)
        m_view->layoutItems();
}

void ResourceWidget::slot_switch_page(int page) {
    if (page >= 0 && page < m_pages->count())
        m_pages->setCurrentIndex(page);
}

void ResourceWidget::on_comboBox_classify_currentIndexChanged(int index) {
    m_view->setFilter(filterMask(index));
}

void ResourceWidget::on_horizontalSlider_scale_valueChanged(int value) {
    m_view->zoomBy(value - m_lastScale);
    m_lastScale = value;
}

void ResourceWidget::on_pushButton_add_clicked() {
    const QStringList files =
        QFileDialog::getOpenFileNames(this, tr("material_view.Open"), QString(), tr("res_form.All"));
    addFiles(files);
}

void ResourceWidget::addFiles(const QStringList& files) {
    QStringList media, subtitleFiles;
    for (const QString& file : files)
        (IsSubtitleFile(file) ? subtitleFiles : media).append(file);
    if (!media.isEmpty())
        manager()->AddMaterialFiles(media, false);
    if (!subtitleFiles.isEmpty())
        emit sig_importSubtitles(subtitleFiles);
}

void ResourceWidget::on_pushButton_remove_clicked() {
    m_view->slot_removeMaterials();
}

void ResourceWidget::on_pushButton_back_clicked() {
    m_faces->setCurrentIndex(0);
}

void ResourceWidget::slot_createSubtitle(QString name, QFont font, QColor color) {
    manager()->AddMaterialSubtitle(name, font, color, false);
}

void ResourceWidget::slot_showMenu(MenuType type, int clicked, bg::ValueMap map) {
    const int index = int(type);
    if (clicked == 0) {
        m_faces->setCurrentIndex(0);
        return;
    }
    AbstractMenu* target = menu(type);
    if (!target) {
        LOGW("no property panel of type %d", index);
        return;
    }
    if (clicked == 2) {
        m_faces->setCurrentIndex(1);
        m_panels->setCurrentIndex(index);
    } else if (clicked == 1) {
        if (!showsPanels())
            return;
        m_panels->setCurrentIndex(index);
    } else if (clicked != -1 || !showsPanels()) {
        return;
    }
    target->UpdateData(map);
    // An open crop page of the same clip follows an undo or redo too.
    if (type == MenuPicture || type == MenuVideo)
        m_cropMenu->refresh(map);
}

void ResourceWidget::slot_updateCropMenu(QList<VFrameInfo> frames) {
    if (!showsPanels())
        return;
    if (m_panels->currentWidget() == m_cropMenu) {
        m_cropMenu->slot_updateCropMenu(frames);
        return;
    }
    for (MenuType type : {MenuPicture, MenuVideo}) {
        if (m_panels->currentIndex() == int(type))
            static_cast<VisualSourceMenu*>(menu(type))->slot_updateClipImage(frames);
    }
}

void ResourceWidget::clearLibrary() {
    m_faces->setCurrentIndex(0);
    m_pageButtons->button(PageMaterial)->setChecked(true);
    slot_switch_page(PageMaterial);
    manager()->ClearPendingPreviews();
    manager()->RemoveAllMaterials();
}

void ResourceWidget::readMaterials(QXmlStreamReader& reader) {
    manager()->ReadMaterials(reader);
    m_pageButtons->button(PageMaterial)->setChecked(true);
    slot_switch_page(PageMaterial);
}

void ResourceWidget::readOldMaterials(QXmlStreamReader& reader) {
    manager()->ReadOldMaterials(reader);
    m_pageButtons->button(PageMaterial)->setChecked(true);
    slot_switch_page(PageMaterial);
}

void ResourceWidget::writeMaterials(QXmlStreamWriter& writer, bool archive) const {
    MaterialManager::WriteMaterials(writer, m_view->materials(), archive, manager()->projectFile());
}

void ResourceWidget::contextMenuEvent(QContextMenuEvent* event) {
    Q_UNUSED(event);
    LOGD("contextMenuEvent: ResourceWidget");
}
