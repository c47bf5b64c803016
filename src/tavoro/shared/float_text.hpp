// The interpreter's repr() of a float, written without its big-number conversion: the shortest
// digits that read back to the same double, laid out as repr() lays them out (positional for
// decimal exponents from -4 to 15, otherwise with an exponent of at least two digits, and ".0"
// after a whole number).
#pragma once

#include <charconv>
#include <cmath>
#include <cstring>

namespace tavoro::text {

// Room for the longest repr of a double ("-2.2250738585072014e-308" and the like).
inline constexpr int float_repr_size = 32;

// Writes repr(value) at `out` and returns the end of what it wrote.
inline char* float_repr(char* out, double value) {
    if (std::isnan(value)) return static_cast<char*>(std::memcpy(out, "nan", 3)) + 3;
    if (std::signbit(value)) *out++ = '-';
    if (std::isinf(value)) return static_cast<char*>(std::memcpy(out, "inf", 3)) + 3;

    char scientific[float_repr_size];
    char* end = std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
                              std::chars_format::scientific).ptr;
    // "d[.ddd]e±XX": gather the digits and the decimal exponent.
    char digits[20];
    int count = 0;
    const char* p = scientific;
    for (; *p != 'e'; ++p)
        if (*p != '.') digits[count++] = *p;
    int exponent = 0;
    bool negative_exponent = p[1] == '-';
    for (p += 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;

    if (exponent < -4 || exponent > 15) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            out = static_cast<char*>(std::memcpy(out, digits + 1, count - 1)) + count - 1;
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        int magnitude = std::abs(exponent);
        if (magnitude < 10) *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -exponent - 1; ++i) *out++ = '0';
        return static_cast<char*>(std::memcpy(out, digits, count)) + count;
    }
    for (int i = 0; i <= exponent; ++i) *out++ = i < count ? digits[i] : '0';
    *out++ = '.';
    if (count <= exponent + 1) {
        *out++ = '0';
        return out;
    }
    return static_cast<char*>(std::memcpy(out, digits + exponent + 1, count - exponent - 1)) +
           count - exponent - 1;
}

// An ASCII str from a buffer, without the UTF-8 decoder.
inline PyObject* ascii_string(const char* text, Py_ssize_t size) {
    PyObject* result = PyUnicode_New(size, 127);
    if (result) std::memcpy(PyUnicode_1BYTE_DATA(result), text, size);
    return result;
}

}  // namespace tavoro::text
