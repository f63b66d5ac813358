// Undoable keyed objects.
//
// An object holds values by key. Changes made with undoable = true, and the
// arrival and removal of objects, are recorded in the undo history of
// UndoController, so that undo and redo replay them through the object's
// hooks. GUI thread only.
#pragma once

#include "value/value.h"

#include <memory>

namespace zya {

class ObjectHandle;

class ZyObject {
public:
    // Operations passed to the hooks.
    enum Operation { OpAdded = 1, OpRemoved = 2, OpChanged = 3 };

    ZyObject();
    virtual ~ZyObject();
    ZyObject(const ZyObject&) = delete;
    ZyObject& operator=(const ZyObject&) = delete;

    // Change hook: the object was added (1) or removed (2), with the context
    // given when that was recorded, or the value under a key changed (3),
    // with the key as a string value.
    virtual void onChange(int operation, const bg::Value& data);
    // Undo hook: called instead of onChange when a record is undone, with the
    // operation that is being undone. By default it calls onChange with the
    // opposite operation (1 <-> 2, 3 stays).
    virtual void onUndo(int operation, const bg::Value& data);

    // Stores the value under the key. undoable: record the change (inside the
    // open merge sequence, if any). notify: call onChange(3, key) at once.
    void setValue(const char* key, const bg::Value& value, bool undoable, bool notify);
    // As an undoable, notified setValue for text being typed: changes of
    // this key of this object in a row make one undo step, until
    // UndoController::endTyping() or any other step comes between.
    void setTypedValue(const char* key, const bg::Value& value);
    bg::Value value(const char* key, const bg::Value& def = bg::Value()) const;
    bool hasValue(const char* key) const;

    // Records the object's arrival and calls onChange(1, context). Undo calls
    // onUndo(1, context); redo onChange(1, context) again.
    static void AddObject_canUndo(ZyObject* object, const bg::Value& context);
    // Records the object's removal and calls onChange(2, context). From now on
    // the undo history owns the object: while it stays removed, the history
    // deletes it when the record is dropped (history reset, the redo side cut
    // off by a new edit, or the controller destroyed). The caller must not
    // delete it.
    static void DelObject_canUndo(ZyObject* object, const bg::Value& context);

    // For the undo records: a handle that goes null when the object dies.
    std::shared_ptr<ObjectHandle> handle() const { return m_handle; }

private:
    friend class ValueRecord;
    void storeValue(const std::string& key, const bg::Value& value, bool present);
    void changeValue(const char* key, const bg::Value& value, bool undoable, bool notify, bool typed);

    bg::ValueMap m_values;
    std::shared_ptr<ObjectHandle> m_handle;
};

class ObjectHandle {
public:
    explicit ObjectHandle(ZyObject* object) : object(object) {}
    ZyObject* object; // null once the object is destroyed
};

} // namespace zya
