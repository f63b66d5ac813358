// The undo history: one QUndoStack for the whole program. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>

class QUndoCommand;

namespace zya {

class UndoController : public QObject {
    Q_OBJECT
public:
    static UndoController* instance();
    // Deletes the controller and with it the history and every removed
    // object it owns. The next instance() makes a fresh one.
    static void destroyInstance();

    // Every record between begin and end becomes one undo step with the name
    // of the outermost sequence. A sequence opened inside another joins it.
    // A sequence that recorded nothing leaves nothing in the history.
    void beginMergeSequence(const QString& name);
    void endMergeSequence();
    bool inMergeSequence() const { return m_sequenceDepth > 0; }

    bool isClean() const;
    void setClean();
    // Modified with nothing to undo (a recovered project): no state of the
    // history is clean until the next setClean().
    void setModified();
    // Counts every change of the history (a step done, undone, merged, the
    // clean mark moved, setModified) over the whole run: equal counts mean
    // the project is as it was.
    static quint64 generation();
    // Empties the history (deleting what it owns) and marks it clean.
    void reset();
    // The text being typed is left (its field lost the focus): what is
    // typed next is a step of its own.
    void endTyping();

    // The step of the open sequence, the parent of new records; null outside a sequence.
    QUndoCommand* sequenceStep() const;
    // Adds a record that has already been carried out. Used by ZyObject.
    void record(QUndoCommand* command);
    // True while undo or redo replays a record: changes then are not recorded again.
    bool isReplaying() const { return m_replaying > 0; }

    QUndoStack stack;

signals:
    void sig_canUndo(bool);
    void sig_canRedo(bool);

private:
    UndoController();
    ~UndoController() override;

    friend class ReplayScope;
    int m_replaying = 0;
    int m_sequenceDepth = 0;
    QUndoCommand* m_sequence = nullptr; // the open sequence's step, not yet on the stack
};

// Marks a replay for as long as it lives.
class ReplayScope {
public:
    ReplayScope() { ++UndoController::instance()->m_replaying; }
    ~ReplayScope() { --UndoController::instance()->m_replaying; }
};

} // namespace zya
