#include "value.h"

#include "number-text.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace bg {

namespace {

struct RegisteredType {
    int id;
    std::string tag;
    ValueWriter writer;
    ValueReader reader;
};

// Registration runs from static initialisers of many files, so the registry
// is built on first use and guarded for the rare late registration.
struct Registry {
    std::mutex mutex; // guards types
    std::vector<RegisteredType> types;

    static Registry& instance() {
        static Registry* registry = new Registry; // lives to the very end of the process
        return *registry;
    }

    bool findById(int id, RegisteredType* out) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& t : types) {
            if (t.id == id) {
                *out = t;
                return true;
            }
        }
        return false;
    }

    // A tag matches its registration exactly, or as "<tag>:<suffix>" (counts
    // travel in the tag, as in "[str:3]").
    bool findByTag(const std::string& tag, RegisteredType* out) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& t : types) {
            if (tag == t.tag || (tag.size() > t.tag.size() && tag.compare(0, t.tag.size(), t.tag) == 0 &&
                                 tag[t.tag.size()] == ':')) {
                *out = t;
                return true;
            }
        }
        return false;
    }
};

const char kNullText[] = "<null>";
const char kVariantPrefix[] = "<variant>";

// Reads "[str:N]" bodies: exactly N bytes of the body, which must hold them.
bool readCountedText(const char* tag, const char* body, std::string* out) {
    const char* colon = std::strchr(tag, ':');
    if (!colon)
        return false;
    const char* p = colon + 1;
    uint64_t count = 0;
    size_t bodyLength = std::strlen(body);
    if (!text::scanCount(p, bodyLength, &count) || *p != '\0')
        return false;
    out->assign(body, static_cast<size_t>(count));
    return true;
}

} // namespace

// Access to a value's private storage for the base type readers below.
class ValueAccess {
public:
    static void setMap(Value& v, ValueMap map) {
        v.zero();
        v.m_type = VT_MAP;
        v.m_map = std::make_unique<ValueMap>(std::move(map));
    }
};

Value::Value() { std::memset(&m_slot, 0, sizeof m_slot); }

Value::Value(int v) : Value() {
    m_type = VT_INT;
    m_slot.i[0] = v;
}

Value::Value(bool v) : Value() {
    m_type = VT_BOOL;
    m_slot.b = v;
}

Value::Value(double v) : Value() {
    m_type = VT_DOUBLE;
    m_slot.d[0] = v;
}

Value::Value(int64_t v) : Value() {
    m_type = VT_INT64;
    m_slot.i64 = v;
}

Value::Value(const char* text) : Value() {
    m_type = VT_STRING;
    if (text)
        m_text = text;
}

Value::Value(const std::string& text) : Value() {
    m_type = VT_STRING;
    m_text = text;
}

Value::Value(const ValueMap& map) : Value() {
    m_type = VT_MAP;
    m_map = std::make_unique<ValueMap>(map);
}

Value::Value(void* pointer) : Value() {
    m_type = VT_POINTER;
    m_slot.ptr = pointer;
}

Value::Value(const Value& other) : Value() { copyValue(&other); }

Value::Value(Value&& other) noexcept
    : m_type(other.m_type), m_slot(other.m_slot), m_text(std::move(other.m_text)), m_map(std::move(other.m_map)) {
    other.zero();
}

Value::~Value() = default;

Value& Value::operator=(const Value& other) {
    if (this != &other)
        copyValue(&other);
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        m_type = other.m_type;
        m_slot = other.m_slot;
        m_text = std::move(other.m_text);
        m_map = std::move(other.m_map);
        other.zero();
    }
    return *this;
}

bool Value::operator==(const Value& other) const {
    if (m_type != other.m_type || m_text != other.m_text)
        return false;
    switch (m_type) {
    case VT_NULL:
        return true;
    case VT_INT:
        return m_slot.i[0] == other.m_slot.i[0];
    case VT_BOOL:
        return m_slot.b == other.m_slot.b;
    case VT_DOUBLE: {
        double a = m_slot.d[0], b = other.m_slot.d[0];
        return a == b || (std::isnan(a) && std::isnan(b));
    }
    case VT_INT64:
        return m_slot.i64 == other.m_slot.i64;
    case VT_STRING:
        return true;
    case VT_MAP:
        return (m_map && other.m_map) ? *m_map == *other.m_map : (!m_map && !other.m_map);
    case VT_POINTER:
        return m_slot.ptr == other.m_slot.ptr;
    default:
        // Registered types keep their payload in the slots and the text.
        return std::memcmp(&m_slot, &other.m_slot, sizeof m_slot) == 0;
    }
}

int Value::toInt(int def) const {
    switch (m_type) {
    case VT_INT:
        return m_slot.i[0];
    case VT_BOOL:
        return m_slot.b ? 1 : 0;
    case VT_INT64:
        if (m_slot.i64 < std::numeric_limits<int>::min() || m_slot.i64 > std::numeric_limits<int>::max())
            return def;
        return static_cast<int>(m_slot.i64);
    case VT_DOUBLE:
        if (!(m_slot.d[0] >= std::numeric_limits<int>::min() && m_slot.d[0] <= std::numeric_limits<int>::max()))
            return def;
        return static_cast<int>(m_slot.d[0]);
    default:
        return def;
    }
}

bool Value::toBool(bool def) const {
    switch (m_type) {
    case VT_BOOL:
        return m_slot.b;
    case VT_INT:
        return m_slot.i[0] != 0;
    case VT_INT64:
        return m_slot.i64 != 0;
    case VT_DOUBLE:
        return m_slot.d[0] != 0.0;
    default:
        return def;
    }
}

double Value::toDouble(double def) const {
    switch (m_type) {
    case VT_DOUBLE:
        return m_slot.d[0];
    case VT_INT:
        return m_slot.i[0];
    case VT_INT64:
        return static_cast<double>(m_slot.i64);
    case VT_BOOL:
        return m_slot.b ? 1.0 : 0.0;
    default:
        return def;
    }
}

int64_t Value::toInt64(int64_t def) const {
    switch (m_type) {
    case VT_INT64:
        return m_slot.i64;
    case VT_INT:
        return m_slot.i[0];
    case VT_BOOL:
        return m_slot.b ? 1 : 0;
    case VT_DOUBLE:
        if (!(m_slot.d[0] >= -9.2233720368547758e18 && m_slot.d[0] < 9.2233720368547758e18))
            return def;
        return static_cast<int64_t>(m_slot.d[0]);
    default:
        return def;
    }
}

void* Value::toPointer() const { return m_type == VT_POINTER ? m_slot.ptr : nullptr; }

std::string Value::toStdString(const char* def) const {
    // Strings, and registered types that carry a text (such as fonts).
    if (m_type == VT_STRING || (m_type > VT_POINTER && !m_text.empty()))
        return m_text;
    return def ? def : "";
}

ValueMap Value::toMap() const { return (m_type == VT_MAP && m_map) ? *m_map : ValueMap(); }

void Value::fast_set(const char* text) {
    zero();
    m_type = VT_STRING;
    if (text)
        m_text = text;
}

void Value::copyValue(const Value* other) {
    if (other == this)
        return;
    m_type = other->m_type;
    m_slot = other->m_slot;
    m_text = other->m_text;
    m_map = other->m_map ? std::make_unique<ValueMap>(*other->m_map) : nullptr;
}

void Value::zero() {
    m_type = VT_NULL;
    std::memset(&m_slot, 0, sizeof m_slot);
    m_text.clear();
    m_map.reset();
}

void Value::setIntSlots(int32_t x, int32_t y, int32_t w, int32_t h) {
    m_slot.i[0] = x;
    m_slot.i[1] = y;
    m_slot.i[2] = w;
    m_slot.i[3] = h;
}

void Value::setDoubleSlots(double x, double y, double w, double h) {
    m_slot.d[0] = x;
    m_slot.d[1] = y;
    m_slot.d[2] = w;
    m_slot.d[3] = h;
}

std::string Value::write() const {
    switch (m_type) {
    case VT_NULL:
        return kNullText;
    case VT_INT:
        return text::format("[int]%d", m_slot.i[0]);
    case VT_BOOL:
        return m_slot.b ? "[bool]true" : "[bool]false";
    case VT_DOUBLE:
        return "[double]" + text::exactDouble(m_slot.d[0]);
    case VT_INT64:
        return text::format("[int64]%lld", static_cast<long long>(m_slot.i64));
    case VT_STRING:
        return text::format("[str:%zu]", m_text.size()) + m_text;
    case VT_MAP: {
        std::string out = text::format("[map:%zu]", m_map ? m_map->size() : 0);
        if (m_map) {
            for (const auto& [key, entry] : *m_map) {
                std::string entryText = entry.write();
                out += text::format("%zu:", key.size()) + key;
                out += text::format("%zu:", entryText.size()) + entryText;
            }
        }
        return out;
    }
    case VT_POINTER:
        return text::format("[ptr]0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(m_slot.ptr)));
    default: {
        RegisteredType t;
        if (Registry::instance().findById(m_type, &t))
            return t.writer(*this);
        return kNullText;
    }
    }
}

bool Value::read(const char* text) { return readBase(text); }

namespace {

// One "<len>:<bytes>" item of a map body; advances p.
bool readLengthPrefixed(const char*& p, const char* end, std::string* out) {
    uint64_t length = 0;
    if (!text::scanCount(p, static_cast<uint64_t>(end - p), &length) || !text::scanChar(p, ':'))
        return false;
    if (length > static_cast<uint64_t>(end - p))
        return false;
    out->assign(p, static_cast<size_t>(length));
    p += length;
    return true;
}

// Map bodies nest; a hostile text must not exhaust the stack.
constexpr int kMaxMapDepth = 64;
thread_local int t_mapDepth = 0;

bool readMapBody(const char* tag, const char* body, ValueMap* out) {
    const char* colon = std::strchr(tag, ':');
    if (!colon)
        return false;
    const char* p = colon + 1;
    const char* end = body + std::strlen(body);
    uint64_t count = 0;
    // Every entry takes at least four bytes ("0:0:"), which bounds a believable count.
    if (!text::scanCount(p, static_cast<uint64_t>(end - body) / 4, &count) || *p != '\0')
        return false;
    if (t_mapDepth >= kMaxMapDepth)
        return false;
    ++t_mapDepth;
    const char* q = body;
    bool ok = true;
    for (uint64_t i = 0; i < count && ok; ++i) {
        std::string key, entryText;
        ok = readLengthPrefixed(q, end, &key) && readLengthPrefixed(q, end, &entryText);
        if (ok) {
            Value entry;
            ok = entry.read(entryText.c_str()) || entryText == kNullText;
            if (ok)
                (*out)[key] = std::move(entry);
        }
    }
    --t_mapDepth;
    return ok && q == end;
}

} // namespace

bool Value::readBase(const char* text) {
    zero();
    if (!text)
        return false;
    if (std::strncmp(text, kVariantPrefix, sizeof kVariantPrefix - 1) == 0) {
        fast_set(text + sizeof kVariantPrefix - 1);
        return true;
    }
    if (text[0] != '[')
        return false;
    const char* close = std::strchr(text, ']');
    if (!close)
        return false;
    std::string tag(text + 1, static_cast<size_t>(close - text - 1));
    const char* body = close + 1;
    const char* p = body;

    if (tag == "int") {
        int32_t v = 0;
        if (!text::scanInt32(p, &v) || *p != '\0')
            return false;
        *this = Value(static_cast<int>(v));
        return true;
    }
    if (tag == "bool") {
        if (std::strcmp(body, "true") == 0 || std::strcmp(body, "false") == 0) {
            *this = Value(body[0] == 't');
            return true;
        }
        return false;
    }
    if (tag == "double") {
        double v = 0;
        if (!text::scanDouble(p, &v) || *p != '\0')
            return false;
        *this = Value(v);
        return true;
    }
    if (tag == "int64") {
        int64_t v = 0;
        if (!text::scanInt64(p, &v) || *p != '\0')
            return false;
        *this = Value(v);
        return true;
    }
    if (tag.compare(0, 4, "str:") == 0) {
        std::string s;
        if (!readCountedText(tag.c_str(), body, &s))
            return false;
        *this = Value(s);
        return true;
    }
    if (tag.compare(0, 4, "map:") == 0) {
        ValueMap map;
        if (!readMapBody(tag.c_str(), body, &map))
            return false;
        ValueAccess::setMap(*this, std::move(map));
        return true;
    }
    if (tag == "ptr") {
        if (std::strncmp(body, "0x", 2) != 0)
            return false;
        p = body + 2;
        uint64_t address = 0;
        int digits = 0;
        for (; *p; ++p, ++digits) {
            int d = (*p >= '0' && *p <= '9') ? *p - '0'
                    : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10
                    : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10
                                               : -1;
            if (d < 0 || digits >= 16)
                return false;
            address = address * 16 + static_cast<uint64_t>(d);
        }
        if (digits == 0)
            return false;
        *this = Value(reinterpret_cast<void*>(static_cast<uintptr_t>(address)));
        return true;
    }

    RegisteredType t;
    if (Registry::instance().findByTag(tag, &t)) {
        Value v = t.reader(tag.c_str(), body);
        *this = std::move(v);
        return !isNull();
    }
    return false;
}

Value ValueMap::get(const std::string& key) const {
    auto it = m_entries.find(key);
    return it == m_entries.end() ? Value() : it->second;
}

bool regist_value_type(int id, const char* tag, ValueWriter writer, ValueReader reader) {
    if (id <= VT_POINTER || id > std::numeric_limits<int16_t>::max() || !tag || !*tag || !writer || !reader)
        return false;
    Registry& registry = Registry::instance();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto& t : registry.types) {
        if (t.id == id || t.tag == tag)
            return false;
    }
    registry.types.push_back({id, tag, std::move(writer), std::move(reader)});
    return true;
}

bool is_value_type_registered(int id) {
    RegisteredType t;
    return Registry::instance().findById(id, &t);
}

Value valueFromText(const char* text) {
    Value v;
    v.read(text);
    return v;
}

} // namespace bg
