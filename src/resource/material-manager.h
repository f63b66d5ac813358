// The media library: every file and subtitle template of the project, the
// worker that makes their preview pictures, and the undoable additions and
// removals. All operations run on the GUI thread; the listener is always
// called there too.
#pragma once

#include "resource/material-data.h"
#include "undo/zy-object.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <functional>

class MaterialManager;
class QXmlStreamReader;
class QXmlStreamWriter;

// What the library tells the material view.
class MaterialListener {
public:
    virtual ~MaterialListener() = default;
    // Copies of every material in list order, removed ones included (with
    // inLibrary false); the receiver owns them.
    virtual void OnMaterialChanged(const QList<MaterialData*>& materials) = 0;
    virtual void OnMaterialAlreadyExist(const QStringList& paths) { Q_UNUSED(paths); }
    virtual void OnMaterialNotExist(const QStringList& paths) { Q_UNUSED(paths); }
    // Files that hold no picture or sound that can be decoded; not added.
    // reasons[i] is the translation key of why paths[i] was refused.
    virtual void OnMaterialUnusable(const QStringList& paths, const QStringList& reasons) {
        Q_UNUSED(paths);
        Q_UNUSED(reasons);
    }
    // Preview pictures changed.
    virtual void OnMaterialRefresh() {}
};

// A material that the undo history can add and remove. While it is in the
// library the manager owns it; once removed, the history does.
class MaterialObject : public MaterialData, public zya::ZyObject {
public:
    explicit MaterialObject(MaterialManager* manager);
    ~MaterialObject() override;

    // 1 attaches it to the manager's library, 2 flags it removed.
    void onChange(int operation, const bg::Value& data) override;

private:
    friend class MaterialManager;
    MaterialManager* m_manager;
};

class MaterialManager : public QThread, public zya::ZyObject {
    Q_OBJECT
public:
    // Starts the preview worker. The listener may be null.
    explicit MaterialManager(MaterialListener* listener, QObject* parent = nullptr);
    // Stops and joins the worker, then lets go of the materials.
    ~MaterialManager() override;

    // Adds media files as one undo step ("addRes"), or without an undo
    // record when restored from a project. Each file on disk is probed and
    // takes the kind of what it holds (still picture, moving picture or
    // sound), whatever its name; a file the user adds that holds nothing of
    // use is refused and reported with the reason. Missing files are added
    // (not draggable) as the kind the project stored (storedTypes[i]) or
    // their name suggests, and reported; files already in the library are
    // reported and not added again.
    // A restored material keeps the uuid the project file gave it (uuids[i]
    // for paths[i]) when that is a well-formed uuid not yet in use, so that
    // saving an opened project writes the same file again.
    void AddMaterialFiles(const QStringList& paths, bool restored, const QStringList& uuids = QStringList(),
                          const QList<uint32_t>& storedTypes = QList<uint32_t>());
    void AddMaterialSubtitle(const QString& name, const QFont& font, const QColor& color, bool restored,
                             const QString& uuid = QString());
    void RemoveMaterials(const QStringList& uuids);
    // Points every material of the file `from` at `to` (a moved or relinked
    // file), its name and preview following; not an undo step. The number
    // of materials changed.
    int relinkMaterials(const QString& from, const QString& to);
    // The files of the library's materials that are not on disk, each once.
    QStringList missingFiles() const;
    // The files of the library's materials that are on disk but could not
    // be used when last read, each once.
    QStringList unusableFiles() const;
    void RemoveAllMaterials();
    void ClearPendingPreviews();

    // First material in list order for which the predicate holds; null if none.
    MaterialObject* FindMaterial(const std::function<bool(const MaterialObject*)>& predicate) const;
    MaterialObject* findByUuid(const QString& uuid) const;
    // Copies of every material, owned by the caller.
    QList<MaterialData*> copies() const;
    // Preview tasks waiting for the worker.
    int pendingPreviews() const;

    // The "Resource" section: "MaterialData" elements for the materials of
    // the list that are in the library. archive: copy each file into the
    // project folder's "resource" folder and store that copy's path.
    static void WriteMaterials(QXmlStreamWriter& writer, const QList<MaterialData*>& materials, bool archive,
                               const QString& projectFile);
    // Reads the section's children and adds what it found (not undoable).
    void ReadMaterials(QXmlStreamReader& reader);
    // The older layout's "Object" elements inside "ObjectMgr".
    void ReadOldMaterials(QXmlStreamReader& reader);

    // The current project file; relative paths are stored against its
    // folder. Without one (or while it returns empty) paths stay absolute.
    void setProjectFileProvider(std::function<QString()> provider) { m_projectFile = std::move(provider); }
    QString projectFile() const { return m_projectFile ? m_projectFile() : QString(); }

    // Value changes on the manager: the listener gets fresh copies.
    void onChange(int operation, const bg::Value& data) override;
    void onUndo(int operation, const bg::Value& data) override;

    // The preview picture of a file of a kind (what the worker makes).
    static QImage makePreview(const QString& path, uint32_t type);

public slots:
    void slot_updateMaterials();

protected:
    void run() override;

private:
    friend class MaterialObject;
    struct PreviewTask {
        QString path;
        uint32_t type = 0;
        MaterialObject* material = nullptr;
    };
    struct ReadRecord {
        uint32_t type = 0;
        QString uuid, name, path;
        QFont font;
        QColor color;
    };

    MaterialObject* newFileMaterial(const QString& path, uint32_t type, bool exists, bool opened, bool restored,
                                    const QString& uuid);
    void keepUuid(MaterialObject* material, const QString& uuid);
    void attach(MaterialObject* material, bool restored);
    void queuePreview(const PreviewTask& task);
    void notifyListener();
    // Marks the start and end of an operation on the manager's own value, so
    // that undoing or redoing it refreshes the listener. Restored additions
    // leave no undo record.
    void bracket(const char* operation, const char* text, bool undoable);
    void addRead(const QList<ReadRecord>& records);
    QString resolveStoredPath(const QString& text) const;
    // Called by the materials' hooks and destructor.
    void attachMaterial(MaterialObject* material);
    void flagRemoved(MaterialObject* material);
    void forget(MaterialObject* material);

    MaterialListener* m_listener;
    std::function<QString()> m_projectFile;

    mutable QMutex m_listLock; // guards m_materials and every material's preview, inLibrary, removed
    QList<MaterialObject*> m_materials;
    QSet<MaterialObject*> m_known; // every live material made by this library, listed or not

    mutable QMutex m_queueLock; // guards m_queue, m_wake; m_wakeUp waits on it
    QWaitCondition m_wakeUp;
    QList<PreviewTask> m_queue;
    bool m_wake = false;
    std::atomic<bool> m_running {true};
};
