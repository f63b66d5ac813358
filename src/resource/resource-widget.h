// The left-hand panel: the library (materials, transitions, stickers and
// works) and, while a clip is being edited, its property panel instead.
// GUI thread only.
#pragma once

#include "values/frame-info.h"
#include "values/source-types.h"
#include "value/value.h"

#include <QColor>
#include <QFont>
#include <QWidget>

#include <array>
#include <string>

class AbstractMenu;
class CropMenu;
class EmptyMaterialWidget;
class GifView;
class HistoryListView;
class MaterialManager;
class MaterialView;
class QButtonGroup;
class QComboBox;
class QPushButton;
class QSlider;
class QStackedWidget;
class QXmlStreamReader;
class QXmlStreamWriter;
class TransitionView;

class ResourceWidget : public QWidget {
    Q_OBJECT
public:
    // Pages of the library face, in button order.
    enum Page { PageMaterial = 0, PageTransition, PageGif, PageWorks };
    static constexpr int kPanelCount = 7; // MenuType 0..6

    explicit ResourceWidget(QWidget* parent = nullptr);

    MaterialView* materialView() const { return m_view; }
    MaterialManager* manager() const;
    EmptyMaterialWidget* emptyWidget() const { return m_empty; }
    QWidget* page(Page page) const;
    // The works history on the works page; owned by the panel.
    HistoryListView* historyList() const { return m_history; }
    // The transition and sticker pages' views; owned by the panel.
    TransitionView* transitionView() const { return m_transitionView; }
    GifView* gifView() const { return m_gifView; }
    // The page of the panel stack for a kind (the crop page for MenuCrop).
    QWidget* panel(MenuType type) const;
    // The property panel of a clip or transition kind; null for MenuCrop.
    AbstractMenu* menu(MenuType type) const;
    CropMenu* cropMenu() const { return m_cropMenu; }
    bool showsPanels() const;
    int currentPage() const;
    MenuType currentPanel() const;

    // Project closed or replaced: the library face, page 0, and an empty
    // library with no previews waiting.
    void clearLibrary();
    // The "Resource" section, and the older layout's materials.
    void readMaterials(QXmlStreamReader& reader);
    void readOldMaterials(QXmlStreamReader& reader);
    void writeMaterials(QXmlStreamWriter& writer, bool archive) const;

    // Type masks of the kind filter's rows.
    static uint32_t filterMask(int index);

public slots:
    void slot_switch_page(int page);
    void on_comboBox_classify_currentIndexChanged(int index);
    void on_horizontalSlider_scale_valueChanged(int value);
    void on_pushButton_add_clicked();
    // Chosen or dropped files: subtitle files to sig_importSubtitles, the
    // others into the library.
    void addFiles(const QStringList& files);
    void on_pushButton_remove_clicked();
    void on_pushButton_back_clicked();
    void slot_createSubtitle(QString name, QFont font, QColor color);
    void slot_showMenu(MenuType type, int clicked, bg::ValueMap map);
    // The preview's current frames for the crop views that show.
    void slot_updateCropMenu(QList<VFrameInfo> frames);

signals:
    void sig_updateData(MenuType type, bg::ValueMap map, std::string datatype);
    // A project file dropped on the library or asked for in the works
    // history (those arrive queued): the application opens it.
    void sig_openProject(QString path);
    void sig_locateMissing();
    void sig_openEarlierVersion(QString versionPath, QString projectPath);
    // Subtitle files (.srt, .vtt) chosen with "Add": they are no library
    // material, their cues go onto the timeline's subtitle track.
    void sig_importSubtitles(QStringList paths);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QWidget* buildLibraryFace();
    QWidget* buildMaterialPage();
    QWidget* buildPanelFace();
    void showMaterialCount(int count);

    QStackedWidget* m_faces = nullptr;
    QButtonGroup* m_pageButtons = nullptr;
    QStackedWidget* m_pages = nullptr;
    QStackedWidget* m_materialStack = nullptr; // the view or the empty note
    QStackedWidget* m_panels = nullptr;
    std::array<AbstractMenu*, 6> m_menus {}; // MenuType 0..5, owned by m_panels
    CropMenu* m_cropMenu = nullptr;
    QComboBox* m_classify = nullptr;
    QSlider* m_scale = nullptr;
    MaterialView* m_view = nullptr;
    EmptyMaterialWidget* m_empty = nullptr;
    HistoryListView* m_history = nullptr;
    TransitionView* m_transitionView = nullptr;
    GifView* m_gifView = nullptr;
    int m_lastScale = 3;
};
