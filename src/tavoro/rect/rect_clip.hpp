// clip_line's arithmetic, exact: the segment's ends and the rectangle's edges are doubles, and
// every decision (does the segment meet the rectangle, which edge cuts it where) is taken on
// their exact values, as integers in units of the smallest power of two among them. A cut lies
// on the edge that made it, and its other coordinate is the float nearest to the exact one, at
// any scale: rounded arithmetic loses the cut's position once the ends are far apart (about 1e15
// for a rectangle of size 10) and its direction beyond.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tavoro::rect_parts::exact {

__extension__ typedef unsigned __int128 u128;

// A signed integer of up to C 64-bit words, least significant first. With the values of the
// problem at most B bits in the units used here (a double is at most 2,098), none below is longer
// than 3B + 30 bits; the usual problems take a few words.
template <int C>
struct Int {
    static constexpr int capacity = C;
    int size = 0;  // words in use; the top one is not zero
    bool negative = false;
    std::uint64_t w[capacity];

    // Copies carry the words in use only: most values here are a word or two.
    Int() = default;
    Int(const Int& other) : size(other.size), negative(other.negative) {
        std::copy(other.w, other.w + size, w);
    }
    Int& operator=(const Int& other) {
        size = other.size, negative = other.negative;
        std::copy(other.w, other.w + size, w);
        return *this;
    }
};

template <int C>
inline int sign(const Int<C>& a) { return a.size == 0 ? 0 : (a.negative ? -1 : 1); }

template <int C>
inline void trim(Int<C>& a) {
    while (a.size && !a.w[a.size - 1]) --a.size;
    if (!a.size) a.negative = false;
}

template <int C>
inline int compare_magnitudes(const Int<C>& a, const Int<C>& b) {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (int i = a.size - 1; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

template <int C>
inline int compare(const Int<C>& a, const Int<C>& b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;  // zero is never negative
    int c = compare_magnitudes(a, b);
    return a.negative ? -c : c;
}

template <int C>
inline Int<C> add_magnitudes(const Int<C>& a, const Int<C>& b) {
    const Int<C>& big = a.size >= b.size ? a : b;
    const Int<C>& small = a.size >= b.size ? b : a;
    Int<C> r;
    u128 carry = 0;
    for (int i = 0; i < big.size; ++i) {
        u128 s = static_cast<u128>(big.w[i]) + (i < small.size ? small.w[i] : 0) + carry;
        r.w[i] = static_cast<std::uint64_t>(s);
        carry = s >> 64;
    }
    r.size = big.size;
    if (carry) r.w[r.size++] = 1;
    return r;
}

// |a| - |b|, for |a| >= |b|.
template <int C>
inline Int<C> subtract_magnitudes(const Int<C>& a, const Int<C>& b) {
    Int<C> r;
    std::uint64_t borrow = 0;
    for (int i = 0; i < a.size; ++i) {
        std::uint64_t x = a.w[i], y = i < b.size ? b.w[i] : 0;
        r.w[i] = x - y - borrow;
        borrow = x < y || (x == y && borrow);
    }
    r.size = a.size;
    trim(r);
    return r;
}

template <int C>
inline Int<C> add(const Int<C>& a, const Int<C>& b, bool negate_b = false) {
    bool b_negative = negate_b ? (b.size && !b.negative) : b.negative;
    Int<C> r;
    if (a.negative == b_negative) {
        r = add_magnitudes(a, b);
        r.negative = a.negative && r.size;
        return r;
    }
    int c = compare_magnitudes(a, b);
    if (c == 0) return r;
    r = c > 0 ? subtract_magnitudes(a, b) : subtract_magnitudes(b, a);
    r.negative = c > 0 ? a.negative : b_negative;
    return r;
}

template <int C>
inline Int<C> sub(const Int<C>& a, const Int<C>& b) { return add(a, b, true); }

template <int C>
inline Int<C> mul(const Int<C>& a, const Int<C>& b) {
    Int<C> r;
    if (!a.size || !b.size) return r;
    r.size = a.size + b.size;
    std::fill(r.w, r.w + r.size, 0);
    for (int i = 0; i < a.size; ++i) {
        u128 carry = 0;
        for (int j = 0; j < b.size; ++j) {
            u128 t = static_cast<u128>(a.w[i]) * b.w[j] + r.w[i + j] + carry;
            r.w[i + j] = static_cast<std::uint64_t>(t);
            carry = t >> 64;
        }
        r.w[i + b.size] = static_cast<std::uint64_t>(carry);
    }
    r.negative = a.negative != b.negative;
    trim(r);
    return r;
}

template <int C>
inline Int<C> shifted_left(const Int<C>& a, int bits) {
    if (!a.size || !bits) return a;
    int words = bits / 64, s = bits % 64;
    Int<C> r;
    r.negative = a.negative;
    std::fill(r.w, r.w + words, 0);
    std::uint64_t carry = 0;
    for (int i = 0; i < a.size; ++i) {
        r.w[i + words] = (a.w[i] << s) | carry;
        carry = s ? a.w[i] >> (64 - s) : 0;
    }
    r.size = a.size + words;
    if (carry) r.w[r.size++] = carry;
    return r;
}

// A finite double as odd · 2^exponent (zero as 0 · 2^0).
struct Binary {
    std::uint64_t odd;
    int exponent;
    bool negative;
};

inline Binary binary(double x) {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int biased = static_cast<int>((bits >> 52) & 0x7ff);
    int e = biased ? biased - 1075 : -1074;
    if (biased) m |= std::uint64_t{1} << 52;
    if (!m) return {0, 0, false};
    int zeros = std::countr_zero(m);
    return {m >> zeros, e + zeros, (bits >> 63) != 0};
}

// b in units of 2^base (b's exponent is base or more).
template <int C>
inline Int<C> integer(const Binary& b, int base) {
    Int<C> r;
    if (!b.odd) return r;
    r.size = 1;
    r.w[0] = b.odd;
    r.negative = b.negative;
    return shifted_left(r, b.exponent - base);
}

// |a| as top · 2^exponent with top's highest bit set, top truncated to 64 bits.
template <int C>
inline double leading(const Int<C>& a, int& exponent) {
    int high = a.size - 1;
    int width = std::bit_width(a.w[high]);
    std::uint64_t top = a.w[high] << (64 - width);
    if (high && width < 64) top |= a.w[high - 1] >> width;
    exponent = 64 * high + width - 64;
    return static_cast<double>(top);
}

// The sign of n / d · 2^base - m for d > 0 and a finite double m.
template <int C>
inline int versus(const Int<C>& n, const Int<C>& d, int base, double m) {
    Binary b = binary(m);
    int low = std::min(base, b.exponent);
    Int<C> left = shifted_left(n, base - low);
    Int<C> right = shifted_left(mul(integer<C>(b, b.exponent), d), b.exponent - low);
    return compare(left, right);
}

inline bool odd(float f) { return std::bit_cast<std::uint32_t>(f) & 1; }

// The float nearest to n / d · 2^base, ties to even, for d > 0 and a value within the float range.
template <int C>
inline float rounded(const Int<C>& n, const Int<C>& d, int base) {
    if (!n.size) return 0.0f;
    int en, ed;
    double q = leading(n, en) / leading(d, ed);
    double near = std::ldexp(n.negative ? -q : q, en - ed + base);  // within 2^-51 of n / d
    float f = static_cast<float>(near);
    // Usually all that lies so near rounds to one float, and that is the answer.
    if (static_cast<float>(near * (1 - 0x1p-48)) == f && static_cast<float>(near * (1 + 0x1p-48)) == f)
        return f;
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr double beyond = 0x1.ffffffp127;  // halfway from the largest float to 2^128
    if (std::isinf(f)) f = std::copysign(std::numeric_limits<float>::max(), f);
    // The approximation is within a few parts in 2^50: f is the answer or a neighbour of it.
    // Past the largest float lies infinity, as rounding takes it.
    for (int moves = 0; moves < 4 && !std::isinf(f); ++moves) {
        float up = std::nextafter(f, inf), down = std::nextafter(f, -inf);
        int above = versus(n, d, base, std::isinf(up) ? beyond : (static_cast<double>(f) + up) / 2);
        if (above > 0 || (above == 0 && odd(f))) {
            f = up;
            continue;
        }
        int below = versus(n, d, base, std::isinf(down) ? -beyond : (static_cast<double>(f) + down) / 2);
        if (below < 0 || (below == 0 && odd(f))) {
            f = down;
            continue;
        }
        break;
    }
    return f;
}

// A parameter along the segment, num / den with den > 0, and the edge that set it: 0 for x,
// 1 for y, -1 for an end of the segment.
template <int C>
struct Parameter {
    Int<C> num, den;
    int axis;
    double edge;
};

template <int C>
inline int compare(const Parameter<C>& a, const Parameter<C>& b) {
    return compare(mul(a.num, b.den), mul(b.num, a.den));
}

// The point at p: on its edge exactly, the other coordinate rounded; an end as it was given.
template <int C>
inline void point_at(const Parameter<C>& p, const Int<C> (&start)[2], const Int<C> (&delta)[2], int base,
                     const double (&end)[2], double (&out)[2]) {
    if (p.axis < 0) {
        out[0] = end[0], out[1] = end[1];
        return;
    }
    int other = 1 - p.axis;
    out[p.axis] = p.edge;
    out[other] = rounded(add(mul(start[other], p.den), mul(p.num, delta[other])), p.den, base);
}

// Liang and Barsky's clipping, on the exact values: the parameter along the segment where it
// enters the bounds is the largest of 0 and the entering edges' ones, where it leaves the least
// of 1 and the leaving edges'.
template <int C>
bool solve(const Binary (&bins)[8], int base, const double (&p1)[2], const double (&p2)[2],
           const double (&low)[2], const double (&high)[2], double (&a)[2], double (&b)[2]) {
    const Int<C> start[2] = {integer<C>(bins[0], base), integer<C>(bins[1], base)};
    const Int<C> stop[2] = {integer<C>(bins[2], base), integer<C>(bins[3], base)};
    const Int<C> delta[2] = {sub(stop[0], start[0]), sub(stop[1], start[1])};
    Parameter<C> enter{{}, {}, -1, 0}, leave{{}, {}, -1, 0};
    enter.den.size = leave.num.size = leave.den.size = 1;
    enter.den.w[0] = leave.num.w[0] = leave.den.w[0] = 1;
    for (int i = 0; i < 2; ++i) {
        int direction = sign(delta[i]);
        if (direction == 0) continue;  // within the bounds, as the caller tested
        Int<C> den = delta[i];
        den.negative = false;
        // t = (bound - start) / delta, with the sign of delta folded into the numerator.
        Int<C> near = sub(integer<C>(bins[direction > 0 ? 4 + i : 6 + i], base), start[i]);
        Int<C> far = sub(integer<C>(bins[direction > 0 ? 6 + i : 4 + i], base), start[i]);
        if (direction < 0) {
            near.negative = near.size && !near.negative;
            far.negative = far.size && !far.negative;
        }
        Parameter<C> in{near, den, i, direction > 0 ? low[i] : high[i]};
        Parameter<C> out{far, den, i, direction > 0 ? high[i] : low[i]};
        if (compare(in, enter) > 0) enter = in;
        if (compare(out, leave) < 0) leave = out;
    }
    if (compare(enter, leave) > 0) return false;
    point_at(enter, start, delta, base, p1, a);
    point_at(leave, start, delta, base, p2, b);
    return true;
}

// The same in doubles, for values between 2^-500 and 2^500 in magnitude (or zero), where no
// product below overflows and every rounding error has a bound: each sign taken and each cut
// coordinate rounded to a float is checked against that bound, and false means that one was too
// close to call, for the exact solution to decide.
inline bool solve_quickly(const double (&p1)[2], const double (&p2)[2], const double (&low)[2],
                          const double (&high)[2], bool& hit, double (&a)[2], double (&b)[2]) {
    constexpr double eps = 0x1p-53, tiny = 0x1p-1000;  // tiny: products that may be subnormal
    struct Quick {
        double num, den;
        int axis;
        double edge;
    };
    auto before = [](const Quick& x, const Quick& y, bool& sure) {
        double l = x.num * y.den, r = y.num * x.den;
        sure = sure && std::fabs(l - r) > 5 * eps * (std::fabs(l) + std::fabs(r)) + tiny;
        return l < r;
    };
    bool sure = true;
    const double delta[2] = {p2[0] - p1[0], p2[1] - p1[1]};
    Quick enter{0, 1, -1, 0}, leave{1, 1, -1, 0};
    for (int i = 0; i < 2; ++i) {
        if (delta[i] == 0) continue;
        bool up = delta[i] > 0;
        Quick in{up ? low[i] - p1[i] : p1[i] - high[i], std::fabs(delta[i]), i, up ? low[i] : high[i]};
        Quick out{up ? high[i] - p1[i] : p1[i] - low[i], std::fabs(delta[i]), i, up ? high[i] : low[i]};
        if (before(enter, in, sure)) enter = in;
        if (before(out, leave, sure)) leave = out;
    }
    hit = !before(leave, enter, sure);
    if (!sure || !hit) return sure;
    auto point = [&](const Quick& q, const double (&end)[2], double (&out)[2]) {
        if (q.axis < 0) {
            out[0] = end[0], out[1] = end[1];
            return;
        }
        int other = 1 - q.axis;
        double term = q.num / q.den * delta[other], v = p1[other] + term;
        double error = 6 * eps * (std::fabs(term) + std::fabs(p1[other])) + tiny;
        float f = static_cast<float>(v);
        sure = sure && static_cast<float>(v - error) == f && static_cast<float>(v + error) == f;
        out[q.axis] = q.edge;
        out[other] = f;
    };
    point(enter, p1, a);
    point(leave, p2, b);
    return sure;
}

// The part of the segment from (x1, y1) to (x2, y2) inside [low[0], high[0]] × [low[1], high[1]]
// (borders included), in `a` and `b`; false when no point of it is inside. Everything is finite
// but for the bounds, which may be infinite.
inline bool clip(const double (&line)[4], double (&low)[2], double (&high)[2], double (&a)[2],
                 double (&b)[2]) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double p1[2] = {line[0], line[1]}, p2[2] = {line[2], line[3]};
    bool inside = true;
    for (int i = 0; i < 2; ++i) {
        // An infinite bound is as good as one just past the segment there.
        if (low[i] == inf || high[i] == -inf) return false;
        if (low[i] == -inf) low[i] = std::min(p1[i], p2[i]);
        if (high[i] == inf) high[i] = std::max(p1[i], p2[i]);
        if (std::max(p1[i], p2[i]) < low[i] || std::min(p1[i], p2[i]) > high[i]) return false;
        inside = inside && std::min(p1[i], p2[i]) >= low[i] && std::max(p1[i], p2[i]) <= high[i];
    }
    if (inside) {
        a[0] = p1[0], a[1] = p1[1], b[0] = p2[0], b[1] = p2[1];
        return true;
    }
    const double values[8] = {p1[0], p1[1], p2[0], p2[1], low[0], low[1], high[0], high[1]};
    bool moderate = true, hit;
    for (double v : values)
        moderate = moderate && (v == 0 || (std::fabs(v) >= 0x1p-500 && std::fabs(v) <= 0x1p500));
    if (moderate && solve_quickly(p1, p2, low, high, hit, a, b)) return hit;
    Binary bins[8];
    int base = std::numeric_limits<int>::max(), top = std::numeric_limits<int>::min();
    for (int i = 0; i < 8; ++i) {
        bins[i] = binary(values[i]);
        if (!bins[i].odd) continue;
        base = std::min(base, bins[i].exponent);
        top = std::max(top, bins[i].exponent + static_cast<int>(std::bit_width(bins[i].odd)));
    }
    // Some value is not zero: the segment is not all inside, so it has a length.
    int bits = top - base;  // the longest value in units of 2^base
    if (3 * bits + 30 <= 64 * 6) return solve<6>(bins, base, p1, p2, low, high, a, b);
    return solve<100>(bins, base, p1, p2, low, high, a, b);
}

}  // namespace tavoro::rect_parts::exact
