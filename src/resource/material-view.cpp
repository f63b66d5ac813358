#include "resource/material-view.h"

#include "resource/material-item.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>

using namespace resource;

// ---- MaterialScene ----

QList<MaterialItem*> MaterialScene::materialItems() const {
    QList<MaterialItem*> list;
    for (QGraphicsItem* item : items(Qt::AscendingOrder)) {
        if (auto* material = dynamic_cast<MaterialItem*>(item))
            list.append(material);
    }
    return list;
}

void MaterialScene::layoutItems(double width) {
    const double s = screenDpiScale();
    const double cellW = kCellWidth * s, cellH = kCellHeight * s, margin = kCellMargin * s;
    int column = 0, row = 0;
    for (MaterialItem* item : materialItems()) {
        const MaterialData& m = item->material();
        const bool shown = (m.type & m_mask) && m.inLibrary;
        item->setVisible(shown);
        if (!shown)
            continue;
        // A cell wider than the view still starts its row: no row stays empty.
        if (column > 0 && (column + 1) * cellW > width) {
            column = 0;
            ++row;
        }
        item->setPos(column * cellW + margin, row * cellH + margin);
        ++column;
    }
    setSceneRect(0, 0, width, (row + 1) * cellH);
}

// ---- MaterialView ----

MaterialView::MaterialView(QWidget* parent)
    : QGraphicsView(parent), m_scene(new MaterialScene(this)), m_manager(std::make_unique<MaterialManager>(this)) {
    setObjectName(QStringLiteral("MaterialView"));
    setScene(m_scene);
    setDragMode(QGraphicsView::RubberBandDrag);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptDrops(true);
    setProperty("empty", true);
}

MaterialView::~MaterialView() {
    // The library goes first: its worker must not report to a half-gone view.
    m_manager.reset();
}

QList<MaterialData*> MaterialView::materials() const {
    QList<MaterialData*> list;
    for (const auto& m : m_materials)
        list.append(m.get());
    return list;
}

bool MaterialView::selectedSubtitleTemplate(QFont* font, QColor* color) const {
    const MaterialData* chosen = nullptr;
    for (QGraphicsItem* item : m_scene->selectedItems()) {
        auto* material = dynamic_cast<MaterialItem*>(item);
        if (material && material->material().type == Text && material->material().path.isEmpty())
            chosen = &material->material();
    }
    if (!chosen)
        return false;
    *font = chosen->font;
    *color = chosen->color;
    return true;
}

void MaterialView::setFilter(uint32_t mask) {
    m_scene->setMask(mask);
    layoutItems();
}

void MaterialView::zoomBy(int steps) {
    for (int i = 0; i < std::abs(steps); ++i) {
        const double f = steps > 0 ? 1.25 : 0.8;
        scale(f, f);
    }
    layoutItems();
}

void MaterialView::layoutItems() {
    const double width = viewport()->width() / std::max(1e-9, transform().m11());
    m_scene->layoutItems(width);
}

void MaterialView::OnMaterialChanged(const QList<MaterialData*>& materials) {
    m_materials.clear();
    for (MaterialData* m : materials)
        m_materials.emplace_back(m);
    rebuild();
    LOGD("OnMaterialChanged: %d", int(m_materials.size()));
    const int count = int(std::count_if(m_materials.begin(), m_materials.end(),
                                        [](const std::unique_ptr<MaterialData>& m) { return m->inLibrary; }));
    emit sig_MaterialNumChanged(count);
}

void MaterialView::rebuild() {
    QHash<QString, const MaterialData*> fresh;
    for (const auto& m : m_materials)
        fresh.insert(m->uuid, m.get());
    for (MaterialItem* item : m_scene->materialItems()) {
        auto it = fresh.find(item->material().uuid);
        if (it == fresh.end()) {
            m_scene->removeItem(item);
            delete item;
            continue;
        }
        item->setMaterial(**it);
        fresh.erase(it);
    }
    // New items, in list order so the grid keeps the library's order.
    for (const auto& m : m_materials) {
        if (fresh.contains(m->uuid))
            m_scene->addItem(new MaterialItem(*m));
    }
    layoutItems();
}

QString MaterialView::pathListMessage(const QString& text, const QStringList& paths, const QStringList& reasons) {
    QString list;
    for (int i = 0; i < std::min(6, int(paths.size())); ++i) {
        list += QStringLiteral("(%1) ").arg(i + 1) + paths.at(i);
        if (i < reasons.size())
            list += QLatin1String(": ") + reasons.at(i);
        list += QLatin1Char('\n');
    }
    if (paths.size() > 6)
        list += QLatin1String("...");
    return text.arg(paths.size()).arg(list);
}

void MaterialView::showPathList(const char* key, const QStringList& paths, const QStringList& reasons) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("material_view.Hint"),
                                pathListMessage(tr(key), paths, reasons), QMessageBox::Ok, window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MaterialView::OnMaterialAlreadyExist(const QStringList& paths) {
    showPathList("material_view.AreadyExist", paths);
}

void MaterialView::OnMaterialNotExist(const QStringList& paths) {
    showPathList("material_view.NoExist", paths);
}

void MaterialView::OnMaterialUnusable(const QStringList& paths, const QStringList& reasons) {
    QStringList texts;
    for (const QString& key : reasons)
        texts.append(tr(key.toLatin1().constData()));
    showPathList("material_view.Unusable", paths, texts);
}

void MaterialView::OnMaterialRefresh() {
    viewport()->update();
}

void MaterialView::slot_removeMaterials() {
    QStringList uuids;
    for (QGraphicsItem* item : m_scene->selectedItems()) {
        if (auto* material = dynamic_cast<MaterialItem*>(item))
            uuids.append(material->material().uuid);
    }
    if (uuids.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, tr("res_form.Hint"), tr("res_form.AskChoose"), QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(tr("res_form.Ok"));
        box.exec();
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, tr("res_form.Hint"), tr("res_form.AskDelete").arg(uuids.size()),
                    QMessageBox::Ok | QMessageBox::Cancel);
    box.button(QMessageBox::Ok)->setText(tr("res_form.Ok"));
    box.button(QMessageBox::Cancel)->setText(tr("res_form.Cancel"));
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    if (box.exec() == QMessageBox::Ok)
        m_manager->RemoveMaterials(uuids);
}

void MaterialView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    layoutItems();
}

void MaterialView::wheelEvent(QWheelEvent* event) {
    QGraphicsView::wheelEvent(event);
    if (event->modifiers() & Qt::ControlModifier)
        emit sig_scaleChanged(event->angleDelta().y() > 0 ? 1 : -1);
}

void MaterialView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete)
        QMetaObject::invokeMethod(this, &MaterialView::slot_removeMaterials, Qt::QueuedConnection);
    QGraphicsView::keyPressEvent(event);
}

void MaterialView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        for (QGraphicsItem* item : items(event->pos())) {
            if (auto* material = dynamic_cast<MaterialItem*>(item)) {
                if (!material->isSelected()) {
                    if (!(event->modifiers() & Qt::ControlModifier))
                        m_scene->clearSelection();
                    material->setSelected(true);
                }
                event->accept();
                return;
            }
        }
    }
    QGraphicsView::mousePressEvent(event);
}

void MaterialView::contextMenuEvent(QContextMenuEvent* event) {
    const MaterialItem* over = nullptr;
    for (QGraphicsItem* item : items(event->pos())) {
        if (!over)
            over = dynamic_cast<MaterialItem*>(item);
    }
    if (!over)
        return;
    QMenu menu(this);
    // A file gone since the project opened is found again here too.
    const QString path = over->material().path;
    QAction* locate = nullptr;
    if (over->material().type != Text && !path.isEmpty() && !QFileInfo::exists(path))
        locate = menu.addAction(tr("missingmedia.Locate"));
    QAction* remove = menu.addAction(QIcon(QStringLiteral(":/images/delete.png")), tr("res_form.Delete_1"));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == remove)
        slot_removeMaterials();
    else if (chosen && chosen == locate)
        emit sig_locateMissing();
}

bool MaterialView::readDrop(const QList<QUrl>& urls, QString* project, QStringList* files) {
    if (urls.size() == 1) {
        const QString file = urls.first().toLocalFile();
        const QString suffix = QFileInfo(file).suffix();
        if (suffix == QLatin1String("zya") || suffix == QLatin1String("zya2")) {
            *project = file;
            return true;
        }
    }
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files->append(url.toLocalFile());
    }
    return false;
}

void MaterialView::acceptFileDrag(QDropEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MaterialView::dragEnterEvent(QDragEnterEvent* event) {
    acceptFileDrag(event);
}

void MaterialView::dragMoveEvent(QDragMoveEvent* event) {
    acceptFileDrag(event);
}

bool MaterialView::takeFileDrop(QDropEvent* event, QString* project, QStringList* files) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) {
        event->ignore();
        return false;
    }
    event->acceptProposedAction();
    readDrop(urls, project, files);
    return true;
}

void MaterialView::dropEvent(QDropEvent* event) {
    QString project;
    QStringList files;
    if (!takeFileDrop(event, &project, &files))
        return;
    if (!project.isEmpty()) {
        emit sig_openProject(project);
        return;
    }
    QStringList subtitleFiles;
    for (const QString& file : files) {
        if (IsSubtitleFile(file))
            subtitleFiles.append(file);
    }
    for (const QString& file : subtitleFiles)
        files.removeOne(file);
    if (!files.isEmpty())
        m_manager->AddMaterialFiles(files, false);
    if (!subtitleFiles.isEmpty())
        emit sig_importSubtitles(subtitleFiles);
}
