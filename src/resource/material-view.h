// The materials page's grid: shows the library's materials filtered by
// kind, zooms, deletes the selection and takes files dropped from the
// desktop. Owns the library (MaterialManager). GUI thread only.
#pragma once

#include "resource/material-manager.h"

#include <QGraphicsScene>
#include <QDropEvent>
#include <QGraphicsView>
#include <QUrl>

#include <memory>
#include <vector>

class MaterialItem;

class MaterialScene : public QGraphicsScene {
    Q_OBJECT
public:
    explicit MaterialScene(QObject* parent = nullptr) : QGraphicsScene(parent) {}
    uint32_t mask() const { return m_mask; }
    void setMask(uint32_t mask) { m_mask = mask; }
    // Items in the order they were added.
    QList<MaterialItem*> materialItems() const;
    // Shown items fill rows of cells across the width (scene units); the
    // scene becomes that wide and as high as the rows.
    void layoutItems(double width);

private:
    uint32_t m_mask = kAllMaterials;
};

class MaterialView : public QGraphicsView, public MaterialListener {
    Q_OBJECT
public:
    explicit MaterialView(QWidget* parent = nullptr);
    ~MaterialView() override;

    MaterialManager* manager() const { return m_manager.get(); }
    MaterialScene* materialScene() const { return m_scene; }
    // The latest copies from the library, in list order.
    QList<MaterialData*> materials() const;
    // The subtitle template among the selected materials (the last one
    // selected when there are several): its font and colour; false when
    // none is selected.
    bool selectedSubtitleTemplate(QFont* font, QColor* color) const;
    void setFilter(uint32_t mask);
    // d steps of 1.25 (d > 0) or 0.8 (d < 0).
    void zoomBy(int steps);
    void layoutItems();

    void OnMaterialChanged(const QList<MaterialData*>& materials) override;
    void OnMaterialAlreadyExist(const QStringList& paths) override;
    void OnMaterialNotExist(const QStringList& paths) override;
    void OnMaterialUnusable(const QStringList& paths, const QStringList& reasons) override;
    void OnMaterialRefresh() override;

    // "%1" the count, "%2" the first six paths numbered, then "..." when there
    // are more. With reasons, each path is followed by ": " and its reason.
    static QString pathListMessage(const QString& text, const QStringList& paths,
                                   const QStringList& reasons = QStringList());
    // A drop of one project file alone names the project (true); any other
    // drop gives its local files.
    static bool readDrop(const QList<QUrl>& urls, QString* project, QStringList* files);
    // Files from the desktop are welcome; anything else is turned away.
    static void acceptFileDrag(QDropEvent* event);
    // Accepts a drop of files and reads it as readDrop does; false (and the
    // drop refused) when it carries no files.
    static bool takeFileDrop(QDropEvent* event, QString* project, QStringList* files);

public slots:
    void slot_removeMaterials();

signals:
    void sig_scaleChanged(int scale);
    void sig_MaterialNumChanged(int count);
    // A project file was dropped alone: the application opens it.
    void sig_openProject(QString path);
    // Subtitle files (.srt, .vtt) among dropped files: no material, their
    // cues go onto the timeline.
    void sig_importSubtitles(QStringList paths);
    // "Locate…" on a material whose file is missing.
    void sig_locateMissing();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A right press on an item not selected selects it alone (with Ctrl,
    // adds it), as a file manager does; on a selected one it keeps the
    // selection. Its menu then acts on what is selected.
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void rebuild();
    void showPathList(const char* key, const QStringList& paths, const QStringList& reasons = QStringList());

    MaterialScene* m_scene;
    std::vector<std::unique_ptr<MaterialData>> m_materials;
    std::unique_ptr<MaterialManager> m_manager; // last member: its worker stops first
};
