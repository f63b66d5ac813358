#include "zy-object.h"

#include "undo-controller.h"
#include "undo-records.h"

namespace zya {

ZyObject::ZyObject() : m_handle(std::make_shared<ObjectHandle>(this)) {}

ZyObject::~ZyObject() { m_handle->object = nullptr; }

void ZyObject::onChange(int, const bg::Value&) {}

void ZyObject::onUndo(int operation, const bg::Value& data) {
    switch (operation) {
    case OpAdded:
        onChange(OpRemoved, data);
        break;
    case OpRemoved:
        onChange(OpAdded, data);
        break;
    default:
        onChange(operation, data);
        break;
    }
}

void ZyObject::storeValue(const std::string& key, const bg::Value& value, bool present) {
    if (present)
        m_values[key] = value;
    else
        m_values.erase(key);
}

void ZyObject::setValue(const char* key, const bg::Value& value, bool undoable, bool notify) {
    changeValue(key, value, undoable, notify, false);
}

void ZyObject::setTypedValue(const char* key, const bg::Value& value) { changeValue(key, value, true, true, true); }

void ZyObject::changeValue(const char* key, const bg::Value& value, bool undoable, bool notify, bool typed) {
    if (!key)
        return;
    UndoController* undo = UndoController::instance();
    if (undoable && !undo->isReplaying()) {
        bool had = m_values.contains(key);
        bg::Value before = m_values.get(key);
        storeValue(key, value, true);
        undo->record(new ValueRecord(undo->sequenceStep(), this, key, before, had, value, typed));
    } else {
        storeValue(key, value, true);
    }
    if (notify)
        onChange(OpChanged, bg::Value(key));
}

bg::Value ZyObject::value(const char* key, const bg::Value& def) const {
    if (!key || !m_values.contains(key))
        return def;
    return m_values.get(key);
}

bool ZyObject::hasValue(const char* key) const { return key && m_values.contains(key); }

void ZyObject::AddObject_canUndo(ZyObject* object, const bg::Value& context) {
    if (!object)
        return;
    UndoController* undo = UndoController::instance();
    if (!undo->isReplaying())
        undo->record(new ObjectRecord(undo->sequenceStep(), object, ObjectRecord::Added, context));
    object->onChange(OpAdded, context);
}

void ZyObject::DelObject_canUndo(ZyObject* object, const bg::Value& context) {
    if (!object)
        return;
    UndoController* undo = UndoController::instance();
    object->onChange(OpRemoved, context);
    if (!undo->isReplaying())
        undo->record(new ObjectRecord(undo->sequenceStep(), object, ObjectRecord::Removed, context));
}

} // namespace zya
