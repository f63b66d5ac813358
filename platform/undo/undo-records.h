// The records that ZyObject leaves in the undo history.
#pragma once

#include "zy-object.h"

#include <QUndoCommand>

#include <memory>
#include <string>

namespace zya {

// A record is made after its change was carried out, so the stack's first
// redo (on push) does nothing.
class Record : public QUndoCommand {
public:
    explicit Record(QUndoCommand* parent) : QUndoCommand(parent) {}
    void redo() final;
    void undo() final;

protected:
    virtual void doRedo(ZyObject* object) = 0;
    virtual void doUndo(ZyObject* object) = 0;
    ZyObject* target() const { return m_handle ? m_handle->object : nullptr; }
    std::shared_ptr<ObjectHandle> m_handle;
    bool m_done = true; // the change is in effect

private:
    bool m_pushed = false;
};

class ValueRecord : public Record {
public:
    // typed: a change of text being typed, which the next typed change of
    // the same key of the same object joins (see ZyObject::setTypedValue).
    ValueRecord(QUndoCommand* parent, ZyObject* object, std::string key, bg::Value before, bool hadBefore,
                bg::Value after, bool typed = false);

    int id() const override;
    bool mergeWith(const QUndoCommand* other) override;
    // No later typed change joins this record any more.
    void endTyping() { m_typed = false; }

protected:
    void doRedo(ZyObject* object) override;
    void doUndo(ZyObject* object) override;

private:
    std::string m_key;
    bg::Value m_before;
    bool m_hadBefore;
    bg::Value m_after;
    bool m_typed;
};

class ObjectRecord : public Record {
public:
    enum Kind { Added, Removed };
    ObjectRecord(QUndoCommand* parent, ZyObject* object, Kind kind, bg::Value context);
    ~ObjectRecord() override;

protected:
    void doRedo(ZyObject* object) override;
    void doUndo(ZyObject* object) override;

private:
    // The history holds the object while the record leaves it removed.
    bool ownsObject() const { return m_kind == Removed ? m_done : !m_done; }

    Kind m_kind;
    bg::Value m_context;
};

} // namespace zya
