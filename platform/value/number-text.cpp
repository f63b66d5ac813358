#include "number-text.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace bg::text {

namespace {

// strtol and friends skip leading white space like scanf's conversions do;
// an empty number is no number.
bool hasDigitAhead(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    return *p >= '0' && *p <= '9';
}

} // namespace

bool scanInt64(const char*& p, int64_t* out) {
    if (!hasDigitAhead(p))
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || end == p)
        return false;
    *out = static_cast<int64_t>(v);
    p = end;
    return true;
}

bool scanInt32(const char*& p, int32_t* out) {
    const char* start = p;
    int64_t v = 0;
    if (!scanInt64(p, &v))
        return false;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        p = start;
        return false;
    }
    *out = static_cast<int32_t>(v);
    return true;
}

bool scanDouble(const char*& p, double* out) {
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(p, &end);
    if (end == p)
        return false;
    // Underflow to a tiny or zero value is fine; overflow is not a number we wrote.
    if (errno == ERANGE && std::isinf(v))
        return false;
    *out = v;
    p = end;
    return true;
}

bool scanCount(const char*& p, uint64_t limit, uint64_t* out) {
    const char* q = p;
    if (*q < '0' || *q > '9')
        return false;
    uint64_t v = 0;
    while (*q >= '0' && *q <= '9') {
        uint64_t digit = static_cast<uint64_t>(*q - '0');
        if (digit > limit || v > (limit - digit) / 10)
            return false;
        v = v * 10 + digit;
        ++q;
    }
    *out = v;
    p = q;
    return true;
}

bool scanFieldName(const char*& p, int maxLength) {
    int n = 0;
    while (p[n] != '\0' && p[n] != ':') {
        if (++n > maxLength)
            return false;
    }
    if (n == 0 || p[n] != ':')
        return false;
    p += n + 1;
    return true;
}

bool scanChar(const char*& p, char c) {
    if (*p != c)
        return false;
    ++p;
    return true;
}

std::string format(const char* fmt, ...) {
    // Most forms fit the scratch buffer; longer ones are measured and made whole.
    char scratch[128];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(scratch, sizeof scratch, fmt, args);
    va_end(args);
    std::string result;
    if (n < 0) {
        va_end(again);
        return result;
    }
    if (static_cast<size_t>(n) < sizeof scratch) {
        result.assign(scratch, static_cast<size_t>(n));
    } else {
        result.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(result.data(), result.size(), fmt, again);
        result.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return result;
}

std::string exactDouble(double v) {
    for (int precision = 15; precision <= 17; ++precision) {
        std::string s = format("%.*g", precision, v);
        if (std::isnan(v) || std::strtod(s.c_str(), nullptr) == v)
            return s;
    }
    return format("%.17g", v);
}

} // namespace bg::text
