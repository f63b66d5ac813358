// Dynamic values of the value library: a 16-bit type id and its payload.
//
// A value is a plain record: it is copied by value, owns everything it holds
// (texts, nested maps) and may cross threads as a copy. Pointers stored with
// the void* constructor are not owned.
//
// Every value has a text form (write) that reading (read) turns back into the
// same value. The base types write:
//   <null>                   empty value (id 0)
//   [int]-12                 32-bit integer
//   [bool]true               boolean (true / false)
//   [double]0.1              shortest text that reads back bit-exact
//   [int64]-9000000000       64-bit integer
//   [str:N]bytes             text of N bytes, which may hold any byte
//   [map:N]...               N entries, each "<keylen>:<key><textlen>:<text>"
//   [ptr]0x1234              an address, meaningful only inside one process
// Further types are taught to the library with regist_value_type.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bg {

class ValueMap;

enum ValueTypeId : int16_t {
    VT_NULL = 0,
    VT_INT = 1,
    VT_BOOL = 2,
    VT_DOUBLE = 3,
    VT_INT64 = 4,
    VT_STRING = 5,
    VT_MAP = 6,
    VT_POINTER = 7,
};

class Value {
public:
    Value();
    Value(int v);
    Value(bool v);
    Value(double v);
    Value(int64_t v);
    Value(const char* text);
    Value(const std::string& text);
    Value(const ValueMap& map);
    Value(void* pointer);
    Value(const Value& other);
    Value(Value&& other) noexcept;
    virtual ~Value();

    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    // Same id and same payload.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

    int16_t type() const { return m_type; }
    bool isNull() const { return m_type == VT_NULL; }

    // Numbers convert among themselves; anything else gives the default.
    int toInt(int def = 0) const;
    bool toBool(bool def = false) const;
    double toDouble(double def = 0.0) const;
    int64_t toInt64(int64_t def = 0) const;
    void* toPointer() const;
    // The text payload (strings and the registered text types), else the default.
    std::string toStdString(const char* def = "") const;
    // A copy of the map payload; empty for any other type.
    ValueMap toMap() const;

    // Replaces this value with the one the text describes. False (and a null
    // value) when the text is not a value's text form.
    virtual bool read(const char* text);
    virtual std::string write() const;

    // Payload slots, for the readers and writers of registered types.
    int32_t intSlot(int i) const { return m_slot.i[i]; }
    double doubleSlot(int i) const { return m_slot.d[i]; }
    uint32_t colorSlot() const { return m_slot.color; }
    const std::string& textSlot() const { return m_text; }

protected:
    // Plain text set: the value becomes the string `text`.
    void fast_set(const char* text);
    void copyValue(const Value* other);
    // Back to the empty value: id 0, slots zero, no text, no map.
    void zero();

    void setType(int16_t id) { m_type = id; }
    void setIntSlots(int32_t x, int32_t y, int32_t w, int32_t h);
    void setDoubleSlots(double x, double y, double w, double h);
    void setColorSlot(uint32_t argb) { m_slot.color = argb; }
    void setTextSlot(std::string text) { m_text = std::move(text); }

    // The base class's own reading: built-in tags, then the registered ones.
    bool readBase(const char* text);

private:
    int16_t m_type = VT_NULL;
    union Slots {
        int32_t i[4];
        double d[4];
        int64_t i64;
        bool b;
        void* ptr;
        uint32_t color;
    } m_slot;
    std::string m_text;
    std::unique_ptr<ValueMap> m_map;

    friend class ValueAccess;
};

// String-keyed map of values; keys are kept in sorted order.
class ValueMap {
public:
    using Storage = std::map<std::string, Value>;

    ValueMap() = default;
    ValueMap(const ValueMap&) = default;
    ValueMap(ValueMap&&) noexcept = default;
    ValueMap& operator=(const ValueMap&) = default;
    ValueMap& operator=(ValueMap&&) noexcept = default;
    ~ValueMap() = default;

    Value& operator[](const char* key) { return m_entries[key]; }
    Value& operator[](const std::string& key) { return m_entries[key]; }
    // The entry, or an empty value when the key is missing.
    Value get(const std::string& key) const;
    bool contains(const std::string& key) const { return m_entries.count(key) != 0; }
    bool erase(const std::string& key) { return m_entries.erase(key) != 0; }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    void clear() { m_entries.clear(); }

    Storage::const_iterator begin() const { return m_entries.begin(); }
    Storage::const_iterator end() const { return m_entries.end(); }

    bool operator==(const ValueMap& other) const { return m_entries == other.m_entries; }

private:
    Storage m_entries;
};

// Teaching the library a type: the writer gives the text form, the reader
// gets the tag (the text between "[" and the first "]") and the body after it.
using ValueWriter = std::function<std::string(const Value&)>;
using ValueReader = std::function<Value(const char* tag, const char* body)>;

// Returns false (and changes nothing) when the id or the tag is taken.
bool regist_value_type(int id, const char* tag, ValueWriter writer, ValueReader reader);
// True when a type with this id has been registered.
bool is_value_type_registered(int id);

// Reads any value text form; a null value when the text is none.
Value valueFromText(const char* text);

} // namespace bg
