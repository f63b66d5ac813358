#include "resource/material-manager.h"

#include "media/media.h"
#include "resource/media-probe.h"
#include "undo/undo-controller.h"
#include "value/interface.h"
#include "values/media-thumbnail.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>
#include <QUuid>

#include <algorithm>

// ---- classification ----

uint32_t ClassifyMaterialPath(const QString& path) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const QString ext = (dot < 0 ? path : path.mid(dot + 1)).toLower();
    // Only a guess for files that cannot be probed (missing ones): what a
    // file on disk is, the probe decides.
    static const QSet<QString> movies {"mp4", "avi", "mkv", "rmvb", "rm", "wmv", "flv", "mpg", "mpeg", "mov",
                                       "3gp", "3pg", "3g2", "gif", "ts", "mts", "m2ts", "m2t", "webm", "m4v",
                                       "ogv", "vob", "asf", "f4v", "dv", "mxf", "apng", "y4m"};
    static const QSet<QString> music {"mp3", "wav", "wma", "m4a", "flac", "opus", "ogg", "oga", "aac",
                                      "ac3", "aif", "aiff", "ape", "mka", "amr", "wv", "caf"};
    static const QSet<QString> images {"png", "jpg", "bmp", "jpeg", "webp", "tif", "tiff", "tga", "ppm",
                                       "pgm", "pbm", "jp2", "qoi", "dpx", "exr", "psd", "sgi", "pcx"};
    if (movies.contains(ext))
        return Movie;
    if (music.contains(ext))
        return Music;
    if (images.contains(ext))
        return Image;
    if (ext == QLatin1String("srt"))
        return Text;
    return MaterialNone;
}

bool IsSubtitleFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("srt") || suffix == QLatin1String("vtt");
}

namespace {

uint32_t typeOfVerdict(const resource::MediaVerdict& verdict) {
    switch (verdict.kind) {
    case resource::MediaVerdict::Still:
        return Image;
    case resource::MediaVerdict::Moving:
        return Movie;
    case resource::MediaVerdict::Sound:
        return Music;
    default:
        return MaterialNone;
    }
}

bool isFileType(uint32_t type) {
    return type == Image || type == Movie || type == Music || type == Mic;
}

} // namespace

// ---- MaterialObject ----

MaterialObject::MaterialObject(MaterialManager* manager) : m_manager(manager) {
    uuid = QUuid::createUuid().toString();
    if (m_manager) {
        QMutexLocker guard(&m_manager->m_listLock);
        m_manager->m_known.insert(this);
    }
}

MaterialObject::~MaterialObject() {
    LOGD("~MaterialObject");
    if (m_manager)
        m_manager->forget(this);
}

void MaterialObject::onChange(int operation, const bg::Value& data) {
    Q_UNUSED(data);
    if (!m_manager)
        return;
    if (operation == OpAdded)
        m_manager->attachMaterial(this);
    else if (operation == OpRemoved)
        m_manager->flagRemoved(this);
}

// ---- MaterialManager ----

MaterialManager::MaterialManager(MaterialListener* listener, QObject* parent)
    : QThread(parent), m_listener(listener) {
    start(QThread::InheritPriority);
}

MaterialManager::~MaterialManager() {
    m_running = false;
    {
        QMutexLocker guard(&m_queueLock);
        m_wake = true;
        m_wakeUp.wakeAll();
    }
    wait();
    QSet<MaterialObject*> materials;
    {
        QMutexLocker guard(&m_listLock);
        m_materials.clear();
        materials.swap(m_known);
    }
    for (MaterialObject* material : materials) {
        material->m_manager = nullptr;
        // Removed materials belong to the undo history, which deletes them.
        if (!material->removed)
            delete material;
    }
}

void MaterialManager::bracket(const char* operation, const char* text, bool undoable) {
    const std::string key = std::string("UpdateMaterials ") + operation;
    setValue(key.c_str(), bg::Value(text), undoable, true);
}

MaterialObject* MaterialManager::FindMaterial(const std::function<bool(const MaterialObject*)>& predicate) const {
    QMutexLocker guard(&m_listLock);
    for (MaterialObject* material : m_materials) {
        if (predicate(material))
            return material;
    }
    return nullptr;
}

MaterialObject* MaterialManager::findByUuid(const QString& uuid) const {
    return FindMaterial([&uuid](const MaterialObject* m) { return m->uuid == uuid; });
}

QList<MaterialData*> MaterialManager::copies() const {
    QList<MaterialData*> list;
    QMutexLocker guard(&m_listLock);
    list.reserve(m_materials.size());
    for (const MaterialObject* material : m_materials)
        list.append(new MaterialData(*material));
    return list;
}

int MaterialManager::pendingPreviews() const {
    QMutexLocker guard(&m_queueLock);
    return m_queue.size();
}

void MaterialManager::notifyListener() {
    if (!m_listener)
        return;
    const QList<MaterialData*> list = copies();
    m_listener->OnMaterialChanged(list);
}

void MaterialManager::keepUuid(MaterialObject* material, const QString& uuid) {
    if (uuid.isEmpty())
        return;
    if (QUuid(uuid).isNull() || QUuid(uuid).toString() != uuid || findByUuid(uuid)) {
        LOGW("library: material uuid %s is not usable; a new one is made", qUtf8Printable(uuid));
        return;
    }
    material->uuid = uuid;
}

void MaterialManager::AddMaterialFiles(const QStringList& paths, bool restored, const QStringList& uuids,
                                       const QList<uint32_t>& storedTypes) {
    if (paths.isEmpty())
        return;
    // Every file on disk is probed, whatever its name: what it holds decides
    // whether it is taken and as what. All up front and in parallel, so a
    // long list or a slow disk does not keep the window waiting file by file.
    QStringList toProbe;
    for (const QString& path : paths) {
        if (QFileInfo::exists(path) && !toProbe.contains(path))
            toProbe.append(path);
    }
    const std::vector<resource::MediaVerdict> verdicts = resource::probeMedia(toProbe);

    // The files already in the library, by their real path: one lookup each
    // instead of comparing every pair of paths on disk. Removed materials do
    // not count, however early in the list they stand.
    auto fileKey = [](const QString& path) {
        const QFileInfo info(path);
        const QString real = info.canonicalFilePath();
        return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real;
    };
    QSet<QString> inLibrary;
    {
        QMutexLocker guard(&m_listLock);
        for (const MaterialObject* m : m_materials) {
            if (!m->removed && !m->path.isEmpty())
                inLibrary.insert(fileKey(m->path));
        }
    }

    // What is taken, decided first: an Add that takes nothing is no edit.
    struct Taken {
        QString path;
        uint32_t type;
        bool exists, opened;
        QString uuid;
    };
    std::vector<Taken> taken;
    QStringList missing, duplicates, unusable, reasons;
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        // What the project said the file was, else what its name suggests:
        // the kind of a file that cannot be probed.
        const uint32_t stored = i < storedTypes.size() ? storedTypes.at(i) : MaterialNone;
        const uint32_t guessed = isFileType(stored) ? stored : ClassifyMaterialPath(path);
        const bool exists = QFileInfo::exists(path);
        if (!exists) {
            missing.append(path);
            if (!isFileType(guessed)) {
                LOGW("library: %s is missing and its kind unknown; not added", qUtf8Printable(path));
                continue;
            }
            taken.push_back({path, guessed, false, false, restored && i < uuids.size() ? uuids.at(i) : QString()});
            continue;
        }
        const QString key = fileKey(path);
        if (inLibrary.contains(key)) {
            duplicates.append(path);
            continue;
        }
        const resource::MediaVerdict& verdict = verdicts[size_t(toProbe.indexOf(path))];
        uint32_t type = typeOfVerdict(verdict);
        if (!verdict.usable()) {
            // A file the user adds that holds nothing playable is refused; one
            // a project names keeps its place (shown as unusable) so its clips do.
            if (!restored || !isFileType(guessed)) {
                LOGW("library: %s cannot be used (%s); not added", qUtf8Printable(path),
                     resource::unusableReasonKey(verdict.failure));
                unusable.append(path);
                reasons.append(QString::fromLatin1(resource::unusableReasonKey(verdict.failure)));
                continue;
            }
            type = guessed;
        }
        inLibrary.insert(key);
        taken.push_back({path, type, true, verdict.usable(), restored && i < uuids.size() ? uuids.at(i) : QString()});
    }
    if (!taken.empty()) {
        zya::UndoController* undo = zya::UndoController::instance();
        undo->beginMergeSequence(QStringLiteral("addRes"));
        bracket("AddMaterialFiles", "AddMaterialFiles Begin", !restored);
        for (const Taken& t : taken)
            newFileMaterial(t.path, t.type, t.exists, t.opened, restored, t.uuid);
        bracket("AddMaterialFiles", "AddMaterialFiles end", !restored);
        undo->endMergeSequence();
    }
    // A project's missing files are gathered into one window when it opens.
    if (!missing.isEmpty() && m_listener && !restored)
        m_listener->OnMaterialNotExist(missing);
    if (!duplicates.isEmpty() && m_listener)
        m_listener->OnMaterialAlreadyExist(duplicates);
    if (!unusable.isEmpty() && m_listener)
        m_listener->OnMaterialUnusable(unusable, reasons);
}

int MaterialManager::relinkMaterials(const QString& from, const QString& to) {
    QList<MaterialObject*> relinked;
    {
        QMutexLocker guard(&m_listLock);
        for (MaterialObject* material : m_materials) {
            if (!material->removed && material->type != Text && material->path == from)
                relinked.append(material);
        }
    }
    if (relinked.isEmpty())
        return 0;
    const uint32_t type = relinked.first()->type;
    const resource::MediaNeed need = type == Image                  ? resource::MediaNeed::Picture
                                     : type == Music || type == Mic ? resource::MediaNeed::Sound
                                                                    : resource::MediaNeed::AnyStream;
    const bool usable = resource::probeMediaFiles({to}, {need}).front();
    for (MaterialObject* material : relinked) {
        {
            QMutexLocker guard(&m_listLock);
            material->path = to;
            material->name = QFileInfo(to).fileName();
            material->draggable = usable;
        }
        queuePreview({to, material->type, material});
    }
    LOGW("library: %s relinked to %s", qUtf8Printable(from), qUtf8Printable(to));
    notifyListener();
    return relinked.size();
}

QStringList MaterialManager::unusableFiles() const {
    QStringList unusable;
    QMutexLocker guard(&m_listLock);
    for (const MaterialObject* material : m_materials) {
        if (!material->removed && material->type != Text && !material->path.isEmpty() && !material->draggable &&
            QFileInfo::exists(material->path) && !unusable.contains(material->path))
            unusable.append(material->path);
    }
    return unusable;
}

QStringList MaterialManager::missingFiles() const {
    QStringList missing;
    QMutexLocker guard(&m_listLock);
    for (const MaterialObject* material : m_materials) {
        if (!material->removed && material->type != Text && !material->path.isEmpty() &&
            !QFileInfo::exists(material->path) && !missing.contains(material->path))
            missing.append(material->path);
    }
    return missing;
}

MaterialObject* MaterialManager::newFileMaterial(const QString& path, uint32_t type, bool exists, bool opened,
                                                 bool restored, const QString& uuid) {
    auto* material = new MaterialObject(this);
    keepUuid(material, uuid);
    material->archiveRecoverd = restored;
    material->type = type;
    material->name = QFileInfo(path).fileName();
    material->path = path;
    material->draggable = exists && opened;
    if (!material->draggable)
        LOGW("library: %s cannot be placed on the timeline (%s)", qUtf8Printable(path),
             exists ? "not readable as media" : "missing");
    attach(material, restored);
    queuePreview({path, type, material});
    return material;
}

void MaterialManager::attach(MaterialObject* material, bool restored) {
    const bg::Value context(static_cast<void*>(this));
    if (restored)
        material->onChange(zya::ZyObject::OpAdded, context);
    else
        zya::ZyObject::AddObject_canUndo(material, context);
}

void MaterialManager::AddMaterialSubtitle(const QString& name, const QFont& font, const QColor& color,
                                          bool restored, const QString& uuid) {
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QStringLiteral("addResSub"));
    bracket("AddMaterialSubtitle", "AddMaterialSubtitle begin", !restored);
    auto* material = new MaterialObject(this);
    if (restored)
        keepUuid(material, uuid);
    material->type = Text;
    material->name = name;
    material->font = font;
    material->color = color;
    material->draggable = true;
    material->archiveRecoverd = restored;
    attach(material, restored);
    bracket("AddMaterialSubtitle", "AddMaterialSubtitle end", !restored);
    undo->endMergeSequence();
}

void MaterialManager::RemoveMaterials(const QStringList& uuids) {
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QStringLiteral("DelRes"));
    bracket("RemoveMaterials", "RemoveMaterials begin", true);
    for (const QString& uuid : uuids) {
        if (MaterialObject* material = findByUuid(uuid))
            zya::ZyObject::DelObject_canUndo(material, bg::Value(static_cast<void*>(this)));
    }
    bracket("RemoveMaterials", "RemoveMaterials end", true);
    undo->endMergeSequence();
}

void MaterialManager::RemoveAllMaterials() {
    QList<MaterialObject*> taken;
    {
        QMutexLocker guard(&m_listLock);
        taken.swap(m_materials);
    }
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QStringLiteral("DelRes"));
    bracket("RemoveMaterials", "RemoveMaterials begin", true);
    for (MaterialObject* material : taken) {
        if (material->removed)
            continue; // already the history's
        zya::ZyObject::DelObject_canUndo(material, bg::Value(static_cast<void*>(this)));
    }
    bracket("RemoveMaterials", "RemoveMaterials end", true);
    undo->endMergeSequence();
}

void MaterialManager::ClearPendingPreviews() {
    QMutexLocker guard(&m_queueLock);
    m_queue.clear();
    m_wake = false;
}

void MaterialManager::attachMaterial(MaterialObject* material) {
    {
        QMutexLocker guard(&m_listLock);
        if (!m_materials.contains(material))
            m_materials.append(material);
        material->inLibrary = true;
        material->removed = false;
    }
}

void MaterialManager::flagRemoved(MaterialObject* material) {
    QMutexLocker guard(&m_listLock);
    // A material taken out by RemoveAllMaterials is flagged all the same, so
    // its owner (the history) is known.
    material->inLibrary = false;
    material->removed = true;
}

void MaterialManager::forget(MaterialObject* material) {
    {
        QMutexLocker guard(&m_listLock);
        m_materials.removeAll(material);
        m_known.remove(material);
    }
    // A queued task must not reach whatever is made at the same address later.
    QMutexLocker guard(&m_queueLock);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [material](const PreviewTask& t) { return t.material == material; }),
                  m_queue.end());
}

void MaterialManager::onChange(int operation, const bg::Value& data) {
    if (operation != OpChanged)
        return;
    LOGD("library: %s", data.toStdString().c_str());
    notifyListener();
}

void MaterialManager::onUndo(int operation, const bg::Value& data) {
    onChange(operation, data);
}

void MaterialManager::slot_updateMaterials() {
    notifyListener();
    if (m_listener)
        m_listener->OnMaterialRefresh();
}

// ---- preview worker ----

void MaterialManager::queuePreview(const PreviewTask& task) {
    QMutexLocker guard(&m_queueLock);
    m_queue.append(task);
    m_wake = true;
    m_wakeUp.wakeAll();
}

QImage MaterialManager::makePreview(const QString& path, uint32_t type) {
    switch (type) {
    case Image:
    case Movie: {
        ff::ImageRequest request;
        request.position = 0.2;
        request.width = 100;
        request.height = 80;
        request.keepAspect = 1;
        const ff::VFramePtr frame = ff::getMovieImage(path.toUtf8().constData(), request, nullptr);
        if (!frame || frame->width <= 0 || frame->height <= 0)
            return QImage(QStringLiteral(":/image/res_cannotload.png"));
        const QImage picture =
            QImage(frame->data(), frame->width, frame->height, frame->stride, QImage::Format_RGBA8888).copy();
        const QString thumb = mediaThumbnailPath(path);
        if (picture.save(thumb, "PNG"))
            emit MediaThumbnails::instance()->sig_written(path);
        else
            LOGW("library: cannot write the thumbnail %s", qUtf8Printable(thumb));
        return picture;
    }
    case Music:
    case Mic:
        // A sound that is missing looks missing, as a picture or a video does.
        return QImage(QFileInfo::exists(path) ? QStringLiteral(":/image/res_music.png")
                                              : QStringLiteral(":/image/res_cannotload.png"));
    case Text:
        return QImage(QStringLiteral(":/image/res_text.png"));
    default:
        return QImage();
    }
}

void MaterialManager::run() {
    while (m_running) {
        PreviewTask task;
        {
            QMutexLocker guard(&m_queueLock);
            while (m_queue.isEmpty() && !m_wake)
                m_wakeUp.wait(&m_queueLock);
            if (!m_running)
                return;
            if (m_queue.isEmpty()) {
                m_wake = false;
                continue;
            }
            task = m_queue.takeFirst();
        }
        if (task.path.isEmpty() || !task.material)
            continue;
        // The uuid guards against a new material at a freed one's address.
        QString uuid;
        {
            QMutexLocker guard(&m_listLock);
            if (!m_materials.contains(task.material))
                continue;
            uuid = task.material->uuid;
        }
        const QImage picture = makePreview(task.path, task.type);
        {
            QMutexLocker guard(&m_listLock);
            if (!m_materials.contains(task.material) || task.material->uuid != uuid)
                continue;
            task.material->preview = picture;
        }
        QMetaObject::invokeMethod(this, &MaterialManager::slot_updateMaterials, Qt::QueuedConnection);
    }
}
