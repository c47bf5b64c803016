// The vectors' geometry, written once for both sizes: rotation, angles, interpolation,
// reflection, projection and length control. The work is done in double precision on the
// widened components and narrowed to 32 bits on store, as with a Python number in `v * 2.0`.
//
// Edges: a result that exists is given exactly where it can be (quarter turns, the ends of an
// interpolation, a target within reach); where an input leaves no answer (a zero or non-finite
// vector that a direction is needed from, a non-finite angle or factor) the method raises
// ValueError and leaves the receiver as it was.
#pragma once

#include "vector.hpp"

#include <bit>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>

namespace tavoro::vec {

inline constexpr const char* angle_not_finite = "The angle must be a finite number";
inline constexpr const char* factor_not_finite = "The interpolation factor t must be a finite number";
inline constexpr const char* no_angle = "An angle needs two non-zero vectors of finite components";
inline constexpr const char* no_slerp = "slerp needs two non-zero vectors of finite components";
inline constexpr const char* slerp_too_far =
    "t is too large for slerp: the turn or the length it extrapolates to is out of range";
inline constexpr const char* opposite_slerp =
    "slerp between opposite vectors has no single path: the plane of rotation is undefined";
inline constexpr const char* bad_normal = "The normal must be a non-zero vector of finite components";
inline constexpr const char* bad_projection = "Cannot project onto a zero vector or one with non-finite components";
inline constexpr const char* bad_axis = "The rotation axis must be a non-zero vector of finite components";
inline constexpr const char* bad_max_distance = "max_distance must not be NaN";
inline constexpr const char* unreachable = "move_towards needs vectors of finite components";
inline constexpr const char* bad_max_length = "max_length must be zero or more";
inline constexpr const char* unclampable = "Cannot clamp the length of a vector with non-finite components";
inline constexpr const char* bad_length = "The length must be a finite number";
inline constexpr const char* unscalable = "Cannot scale a zero vector or one with non-finite components to a length";
inline constexpr const char* no_polar = "Polar form needs a vector of finite components";
inline constexpr const char* bad_polar = "from_polar needs a finite length and angle";

inline constexpr double float_max = std::numeric_limits<float>::max();

inline bool raise_value(const char* message) {
    PyErr_SetString(PyExc_ValueError, message);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Components in double precision

template <class V>
using Doubles = std::array<double, V::size>;

template <class V>
Doubles<V> widen(const Floats<V>& a) {
    Doubles<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = a[i];
    return out;
}

template <class V>
Floats<V> narrow(const Doubles<V>& a) {
    Floats<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = static_cast<float>(a[i]);
    return out;
}

template <class V>
double dot(const Doubles<V>& a, const Doubles<V>& b) {
    double sum = 0.0;
    for (int i = 0; i < V::size; ++i) sum += a[i] * b[i];
    return sum;
}

// a·s + b·k, component-wise.
template <class V>
Doubles<V> combine(const Doubles<V>& a, double s, const Doubles<V>& b, double k) {
    Doubles<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = a[i] * s + b[i] * k;
    return out;
}

template <class V>
Doubles<V> scaled(const Doubles<V>& a, double s) {
    Doubles<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = a[i] * s;
    return out;
}

inline std::array<double, 3> cross3(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// The squared length of a direction given as an argument, or 0 when it gives none (zero, or a
// component not finite).
template <class V>
double usable_squares(const Doubles<V>& a) {
    double squares = dot<V>(a, a);
    return std::isfinite(squares) ? squares : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Angles

struct Turn {
    double sin, cos;
};

// The sine and cosine of x in [-π/4, π/4], by their Taylor series to the terms in x^15 and x^16:
// the first omitted terms are below 5e-17 there (under half a unit in the last place of a
// double), and the two series run side by side, which is quicker than the library's routine
// with its general range reduction (done exactly by the caller, in degrees).
inline Turn sin_cos_eighth(double x) {
    // sin x = x (1 - y/3! + y²/5! - ... - y⁷/15!), cos x = 1 + y (-1/2! + y/4! - ... + y⁷/16!),
    // with y = x², evaluated from the highest term down.
    constexpr double sin_terms[] = {-1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
                                    1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0};
    constexpr double cos_terms[] = {1.0 / 20922789888000.0, -1.0 / 87178291200.0, 1.0 / 479001600.0,
                                    -1.0 / 3628800.0, 1.0 / 40320.0, -1.0 / 720.0, 1.0 / 24.0, -0.5};
    double y = x * x;
    double s = sin_terms[0], c = cos_terms[0];
    for (int i = 1; i < 8; ++i) {
        s = s * y + sin_terms[i];
        c = c * y + cos_terms[i];
    }
    return {x * s, 1.0 + y * c};
}

// The sine and cosine of an angle in degrees. The angle is first reduced exactly to a quarter
// turn and a remainder of at most 45°, so that any number of whole turns is harmless and quarter
// turns give exact values: rotating (1, 0) by 90 gives (-0.0, 1.0), not (6e-17, 1.0).
inline bool turn_degrees(double degrees, Turn& out) {
    if (!std::isfinite(degrees)) return raise_value(angle_not_finite);
    // Exact, in [-180, 180]; the call is skipped for angles there already.
    double r = std::fabs(degrees) <= 180.0 ? degrees : std::remainder(degrees, 360.0);
    // The nearest quarter turn, by comparison (a rounding call costs more here).
    int quarter = r > 135.0 ? 2 : r > 45.0 ? 1 : r >= -45.0 ? 0 : r >= -135.0 ? -1 : -2;
    // The difference is exact; adding 0.0 makes a whole number of turns (-0.0 from the
    // reduction of -720, say) the identity rather than a turn that gives -0.0 components.
    double rest = (r - quarter * 90.0) * (std::numbers::pi / 180.0) + 0.0;
    auto [s, c] = sin_cos_eighth(rest);
    switch (quarter) {
        case 1: out = {c, -s}; break;
        case -1: out = {-c, s}; break;
        case 2:
        case -2: out = {-s, -c}; break;
        default: out = {s, c};
    }
    return true;
}

// The bits of 2/π after the binary point, 64 to a word, behind a word of zeros: word 0 holds the
// weights 2^63 to 2^0 (2/π has no whole part), word i the 64 bits from 2^-(64i - 63) on. Enough
// for the largest double, whose exponent reaches bit 971 + 192.
inline constexpr std::uint64_t two_over_pi[20] = {
    0x0000000000000000, 0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041,
    0xfe5163abdebbc561, 0xb7246e3a424dd2e0, 0x06492eea09d1921c, 0xfe1deb1cb129a73e,
    0xe88235f52ebb4484, 0xe99c7026b45f7e41, 0x3991d639835339f4, 0x9c845f8bbdf9283b,
    0x1ff897ffde05980f, 0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d,
    0x7527bac7ebe5f17b, 0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08, 0x56033046fc7b6bab,
};

__extension__ typedef unsigned __int128 u128;
__extension__ typedef __int128 i128;

// The sine and cosine of a large angle in radians, through the exact reduction of the double
// modulo π/2. With |x| = m·2^e, x·2/π modulo 4 takes only the 192 bits of 2/π from weight 2^-(e-1)
// on: those above give whole multiples of 4, those below less than 2^-137. The product's two
// bits above the point are the quadrant, and its top 128 bits below it the fraction of a quarter
// turn; no double comes closer to a multiple of π/2 than about 2^-61 of one, so the fraction
// keeps more than 60 significant bits.
inline Turn turn_reduced(double x) {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;  // a normal number: its caller's
    int start = e + 62, word = start / 64, shift = start % 64;
    std::uint64_t w[3];
    for (int i = 0; i < 3; ++i)
        w[i] = shift ? (two_over_pi[word + i] << shift) | (two_over_pi[word + i + 1] >> (64 - shift))
                     : two_over_pi[word + i];
    // m · (w[0] w[1] w[2]), of which the top word is not needed (multiples of 4).
    u128 t = static_cast<u128>(m) * w[2];
    std::uint64_t p0 = static_cast<std::uint64_t>(t);
    t = static_cast<u128>(m) * w[1] + (t >> 64);
    std::uint64_t p1 = static_cast<std::uint64_t>(t);
    t = static_cast<u128>(m) * w[0] + (t >> 64);
    std::uint64_t p2 = static_cast<std::uint64_t>(t);
    int quadrant = static_cast<int>(p2 >> 62);
    // The fraction as a signed number: past one half it is the next quadrant less a fraction.
    u128 fraction = (static_cast<u128>(p2 & ((std::uint64_t{1} << 62) - 1)) << 66) |
                    (static_cast<u128>(p1) << 2) | (p0 >> 62);
    i128 signed_fraction = static_cast<i128>(fraction);
    if (signed_fraction < 0) quadrant = (quadrant + 1) & 3;
    double rest = static_cast<double>(signed_fraction) * 0x1p-128 * (std::numbers::pi / 2);
    auto [s, c] = sin_cos_eighth(rest);
    Turn t4[] = {{s, c}, {c, -s}, {-s, -c}, {-c, s}};
    Turn turn = t4[quadrant];
    if (x < 0) turn.sin = -turn.sin;
    return turn;
}

// Radians go through degrees, so that the usual constants (math.pi / 2) land on exact quarter
// turns; up to 2^10 radians the conversion is off by less than 3e-13, far below what a 32-bit
// component can show. Beyond, where that error grows with the angle, the double is reduced
// exactly.
inline bool turn_radians(double radians, Turn& out) {
    if (!std::isfinite(radians)) return raise_value(angle_not_finite);
    if (std::fabs(radians) > 0x1p10) {
        out = turn_reduced(radians);
        return true;
    }
    return turn_degrees(radians * (180.0 / std::numbers::pi), out);
}

// atan2 in degrees, in (-180, 180]: the half turn is always +180.
inline double degrees_of(double y, double x) {
    double d = std::atan2(y, x) * (180.0 / std::numbers::pi);
    return d == -180.0 ? 180.0 : d;
}

// The plane rotation of (x, y) by a turn.
inline std::array<double, 2> turned(double x, double y, const Turn& t) {
    return {x * t.cos - y * t.sin, x * t.sin + y * t.cos};
}

// ---------------------------------------------------------------------------------------------
// Operations. Each writes its result to `out` and returns true, or raises and returns false;
// the to_/get_ wrappers below store it in the receiver or in a new vector.

// Vector2 counter-clockwise by an angle.
template <class V>
bool rotate_by(Floats<V>& out, const Floats<V>& a, const Turn& t) {
    static_assert(V::size == 2);
    out = narrow<V>(turned(a[0], a[1], t));
    return true;
}

template <class V, bool (*Angle)(double, Turn&)>
bool rotate(Floats<V>& out, const Floats<V>& a, double angle) {
    Turn t;
    return Angle(angle, t) && rotate_by<V>(out, a, t);
}

// Vector3 about an axis, counter-clockwise seen from its tip (Rodrigues' formula).
template <class V, bool (*Angle)(double, Turn&)>
bool rotate_about(Floats<V>& out, const Floats<V>& a, double angle, V* axis) {
    Doubles<V> k = widen<V>(load(axis));
    double squares = usable_squares<V>(k);
    if (squares == 0.0) return raise_value(bad_axis);
    Turn t;
    if (!Angle(angle, t)) return false;
    k = scaled<V>(k, 1.0 / std::sqrt(squares));
    Doubles<V> v = widen<V>(a);
    // v cos + (k × v) sin + k (k·v)(1 - cos)
    Doubles<V> rotated = combine<V>(v, t.cos, cross3(k, v), t.sin);
    out = narrow<V>(combine<V>(rotated, 1.0, k, dot<V>(k, v) * (1.0 - t.cos)));
    return true;
}

// About a coordinate axis: the two other components turn in their plane, counter-clockwise
// seen from the axis's positive side.
template <class V, int Axis, bool (*Angle)(double, Turn&)>
bool rotate_about_axis(Floats<V>& out, const Floats<V>& a, double angle) {
    Turn t;
    if (!Angle(angle, t)) return false;
    constexpr int i = (Axis + 1) % 3, j = (Axis + 2) % 3;
    auto [p, q] = turned(a[i], a[j], t);
    out = a;
    out[i] = static_cast<float>(p);
    out[j] = static_cast<float>(q);
    return true;
}

// The angle from a to b in degrees: Vector2's is signed, counter-clockwise positive, in
// (-180, 180]; Vector3's is unsigned, in [0, 180]. Taken as atan2 of the cross and dot products
// in double, which is accurate at every angle (acos of the dot loses small ones).
template <class V>
bool angle_between(const Floats<V>& a, const Floats<V>& b, double& out) {
    Doubles<V> u = widen<V>(a), v = widen<V>(b);
    if (usable_squares<V>(u) == 0.0 || usable_squares<V>(v) == 0.0) return raise_value(no_angle);
    double c;
    if constexpr (V::size == 2) {
        c = u[0] * v[1] - u[1] * v[0];
    } else {
        auto w = cross3(u, v);
        c = std::sqrt(dot<V>(w, w));
    }
    out = degrees_of(c, dot<V>(u, v));
    return true;
}

template <class V>
double angle_to(V* self, V* other) {
    double angle;
    return angle_between<V>(load(self), load(other), angle) ? angle : -1.0;
}

// (1 - t)·a + t·b: exactly a at t = 0 and exactly b at t = 1; other t extrapolate.
template <class V>
bool lerp(Floats<V>& out, const Floats<V>& a, V* other, double t) {
    if (!std::isfinite(t)) return raise_value(factor_not_finite);
    out = narrow<V>(combine<V>(widen<V>(a), 1.0 - t, widen<V>(load(other)), t));
    return true;
}

// Turns a's direction toward b's by the fraction t of the angle between them, the shorter way,
// while the length goes linearly from |a| to |b|. Vector2 turns opposite vectors counter-
// clockwise; for Vector3 the plane is undefined, so they are refused.
template <class V>
bool slerp(Floats<V>& out, const Floats<V>& a, V* other, double t) {
    if (!std::isfinite(t)) return raise_value(factor_not_finite);
    Doubles<V> u = widen<V>(a), v = widen<V>(load(other));
    double su = usable_squares<V>(u), sv = usable_squares<V>(v);
    if (su == 0.0 || sv == 0.0) return raise_value(no_slerp);
    double lu = std::sqrt(su), lv = std::sqrt(sv);
    // The result is u cos φ + s sin φ scaled to the interpolated length, where s is u turned a
    // quarter toward b in their plane: (-u.y, u.x) for Vector2, (u × b) × u / |u × b| for
    // Vector3 (both of length |u|). The divisions are kept off each other's path.
    Doubles<V> side{};
    double angle, side_scale;  // the angle in degrees, so that half and quarter turns are exact
    if constexpr (V::size == 2) {
        side = {-u[1], u[0]};
        angle = degrees_of(u[0] * v[1] - u[1] * v[0], dot<V>(u, v));
        side_scale = 1.0;
    } else {
        auto w = cross3(u, v);
        double sine = std::sqrt(dot<V>(w, w));
        double cosine = dot<V>(u, v);
        if (sine == 0.0 && cosine < 0.0) return raise_value(opposite_slerp);
        side = cross3(w, u);
        angle = degrees_of(sine, cosine);
        side_scale = sine == 0.0 ? 0.0 : 1.0 / sine;  // parallel: no turn, no side
    }
    // The length relative to |u|: exactly 1 all along when the lengths are equal, however far t
    // extrapolates.
    double per_length = 1.0 + t * ((lv - lu) / lu);
    double turn_angle = angle * t;
    if (!std::isfinite(turn_angle) || !(std::fabs(per_length * lu) <= float_max))
        return raise_value(slerp_too_far);
    Turn turn;
    turn_degrees(turn_angle, turn);
    out = narrow<V>(combine<V>(u, turn.cos * per_length, side, turn.sin * per_length * side_scale));
    return true;
}

// a mirrored in the line (Vector3: the plane) whose normal is given; the normal need not be
// of unit length: a - 2 (a·n / n·n) n.
template <class V>
bool reflect(Floats<V>& out, const Floats<V>& a, V* normal) {
    Doubles<V> n = widen<V>(load(normal));
    double squares = usable_squares<V>(n);
    if (squares == 0.0) return raise_value(bad_normal);
    Doubles<V> v = widen<V>(a);
    out = narrow<V>(combine<V>(v, 1.0, n, -2.0 * dot<V>(v, n) / squares));
    return true;
}

// The component of a along the vector given: (a·o / o·o) o.
template <class V>
bool project(Floats<V>& out, const Floats<V>& a, V* onto) {
    Doubles<V> o = widen<V>(load(onto));
    double squares = usable_squares<V>(o);
    if (squares == 0.0) return raise_value(bad_projection);
    out = narrow<V>(scaled<V>(o, dot<V>(widen<V>(a), o) / squares));
    return true;
}

// A step of at most max_distance from a toward the target, landing on the target exactly when
// it is within reach; a negative max_distance steps away from it. A component in which the
// target does not differ stays: so a vector at its target stays there whatever the distance
// (there is no way away from it), and an infinite step away is infinite only along the way.
template <class V>
bool move_towards(Floats<V>& out, const Floats<V>& a, V* target, double max_distance) {
    if (std::isnan(max_distance)) return raise_value(bad_max_distance);
    Floats<V> goal = load(target);
    Doubles<V> from = widen<V>(a);
    Doubles<V> step = combine<V>(widen<V>(goal), 1.0, from, -1.0);
    double distance = std::sqrt(dot<V>(step, step));
    if (!std::isfinite(distance)) return raise_value(unreachable);
    if (distance <= max_distance) {
        out = goal;
        return true;
    }
    double k = max_distance / distance;  // infinite at the target itself, or for -inf
    if (std::isfinite(k)) {
        out = narrow<V>(combine<V>(from, 1.0, step, k));
        return true;
    }
    for (int i = 0; i < V::size; ++i)
        if (step[i] != 0.0) from[i] += step[i] * k;
    out = narrow<V>(from);
    return true;
}

// Shortens a to max_length when it is longer; shorter vectors (the zero vector too) are kept.
template <class V>
bool clamp_magnitude(Floats<V>& out, const Floats<V>& a, double max_length) {
    if (!(max_length >= 0.0)) return raise_value(bad_max_length);
    double squares = squared_length<V>(a);
    if (!std::isfinite(squares)) return raise_value(unclampable);
    double length = std::sqrt(squares);
    out = length <= max_length ? a : narrow<V>(scaled<V>(widen<V>(a), max_length / length));
    return true;
}

// a in its direction at the length given; a negative length points it the other way.
template <class V>
bool scale_to_length(Floats<V>& out, const Floats<V>& a, double length) {
    if (!std::isfinite(length)) return raise_value(bad_length);
    Doubles<V> v = widen<V>(a);
    double squares = usable_squares<V>(v);
    if (squares == 0.0) return raise_value(unscalable);
    out = narrow<V>(scaled<V>(v, length / std::sqrt(squares)));
    return true;
}

// Vector2 only: the z component of the cross product of (x, y, 0) and (u, v, 0), in 32-bit
// floats like dot.
template <class V>
double cross_z(V* self, V* other) {
    auto [x, y] = load(self);
    auto [u, v] = load(other);
    return static_cast<double>(x * v - y * u);
}

// (length, angle in degrees from the x axis, in (-180, 180]); the zero vector is (0.0, 0.0).
template <class V>
PyObject* as_polar(V* self) {
    auto [x, y] = load(self);
    if (!std::isfinite(x) || !std::isfinite(y)) {
        raise_value(no_polar);
        return nullptr;
    }
    double length = std::sqrt(squared_length<V>({x, y}));
    return Py_BuildValue("(dd)", length, length == 0.0 ? 0.0 : degrees_of(y, x));
}

template <class V>
PyObject* from_polar(double length, double degrees) {
    Turn t;
    if (!std::isfinite(length)) {
        raise_value(bad_polar);
        return nullptr;
    }
    if (!turn_degrees(degrees, t)) return nullptr;
    return make<V>({static_cast<float>(length * t.cos), static_cast<float>(length * t.sin)});
}

// ---------------------------------------------------------------------------------------------
// The to_/get_ pairs: `to_...` stores the result in the receiver and returns it, `get_...`
// returns it as a new vector. On failure the receiver is left as it was.

template <class Op>
struct Transform;

template <class F, class... A>
struct Transform<bool (*)(F&, const F&, A...)> {
    template <auto Op, class V>
    static PyObject* to(V* self, A... args) {
        F out;
        if (!Op(out, load(self), args...)) return nullptr;
        store(self, out);
        return new_ref_full_width(self);
    }

    template <auto Op, class V>
    static PyObject* get(V* self, A... args) {
        F out;
        if (!Op(out, load(self), args...)) return nullptr;
        return make<V>(out);
    }
};

template <class V, auto Op>
inline constexpr auto to_form = &Transform<decltype(Op)>::template to<Op, V>;

template <class V, auto Op>
inline constexpr auto get_form = &Transform<decltype(Op)>::template get<Op, V>;

// The methods of a to_/get_ pair, as one tuple; `doc` describes the result.
template <class V, frame::Text To, frame::Text Get, auto Op, frame::Text... Params>
auto pair(const char* doc) {
    static const std::string to_doc = std::string("In place, returning self: ") + doc;
    static const std::string get_doc = std::string("As a new vector: ") + doc;
    return std::tuple{frame::method<To, to_form<V, Op>, Params...>(to_doc.c_str()),
                      frame::method<Get, get_form<V, Op>, Params...>(get_doc.c_str())};
}

// ---------------------------------------------------------------------------------------------
// Python members

inline constexpr const char* angle_doc_2 =
    "The signed angle in degrees from this vector to the vector other, counter-clockwise\n"
    "positive, in (-180, 180]; opposite vectors give 180. ValueError if either vector is zero\n"
    "or has a component that is not finite.";
inline constexpr const char* angle_doc_3 =
    "The angle in degrees between this vector and the vector other, in [0, 180]; opposite\n"
    "vectors give 180. ValueError if either vector is zero or has a component that is not finite.";

template <class V>
auto geometry_shared() {
    constexpr const char* lerp_doc =
        "(1 - t)·self + t·other, in double precision: self at t = 0 and other at t = 1 exactly;\n"
        "t outside [0, 1] extrapolates. ValueError if t is not finite.";
    constexpr const char* slerp_doc =
        "this vector's direction turned toward other's by the fraction t of the angle between\n"
        "them (the shorter way) while the length goes linearly from this length to other's;\n"
        "t outside [0, 1] extrapolates. Parallel vectors keep their direction. ValueError if\n"
        "either vector is zero or not finite, or t is not finite or so large that the turn or\n"
        "the length it extrapolates to is out of range.";
    constexpr const char* slerp_opposite_2 = " Opposite vectors turn counter-clockwise.";
    constexpr const char* slerp_opposite_3 = " Opposite vectors are refused with ValueError.";
    static const std::string slerp_full =
        std::string(slerp_doc) + (V::size == 2 ? slerp_opposite_2 : slerp_opposite_3);
    constexpr const char* reflect_doc =
        "this vector mirrored about the normal (any non-zero length): self - 2 (self·n / n·n) n,\n"
        "as a ball bounces off a wall with that normal. ValueError if the normal is zero or not\n"
        "finite.";
    constexpr const char* project_doc =
        "the projection of this vector onto the vector other: (self·other / other·other) other.\n"
        "ValueError if other is zero or not finite.";
    constexpr const char* move_doc =
        "a step from this vector toward target of at most max_distance; the target itself when\n"
        "it is within reach. A negative max_distance steps away; a vector at its target stays\n"
        "there. ValueError if max_distance is NaN or a vector is not finite.";
    constexpr const char* clamp_doc =
        "this vector shortened to max_length if it is longer; shorter vectors and the zero\n"
        "vector stay as they are. ValueError if max_length is negative or NaN, or the vector is\n"
        "not finite.";
    constexpr const char* scale_doc =
        "this vector in its own direction at the given length; a negative length reverses it.\n"
        "ValueError for the zero vector, a vector that is not finite, or a length that is not\n"
        "finite.";
    return std::tuple_cat(
        std::tuple{frame::method<"angle_to", angle_to<V>, "other">(V::size == 2 ? angle_doc_2 : angle_doc_3)},
        pair<V, "to_lerp", "get_lerp", lerp<V>, "other", "t">(lerp_doc),
        pair<V, "to_slerp", "get_slerp", slerp<V>, "other", "t">(slerp_full.c_str()),
        pair<V, "to_reflected", "get_reflected", reflect<V>, "normal">(reflect_doc),
        pair<V, "to_projected", "get_projected", project<V>, "other">(project_doc),
        pair<V, "to_moved_towards", "get_moved_towards", move_towards<V>, "target", "max_distance">(move_doc),
        pair<V, "to_clamped_magnitude", "get_clamped_magnitude", clamp_magnitude<V>, "max_length">(clamp_doc),
        pair<V, "to_scaled_to_length", "get_scaled_to_length", scale_to_length<V>, "length">(scale_doc));
}

template <class V>
auto geometry_own() {
    if constexpr (V::size == 2) {
        constexpr const char* rotate_doc =
            "this vector turned counter-clockwise by an angle in degrees; whole turns are removed\n"
            "exactly and quarter turns are exact. ValueError if the angle is not finite.";
        constexpr const char* rotate_rad_doc =
            "this vector turned counter-clockwise by an angle in radians (math.pi / 2 is an exact\n"
            "quarter turn; any finite angle, however large, turns by its exact value). ValueError\n"
            "if the angle is not finite.";
        return std::tuple_cat(
            pair<V, "to_rotated", "get_rotated", rotate<V, turn_degrees>, "angle">(rotate_doc),
            pair<V, "to_rotated_rad", "get_rotated_rad", rotate<V, turn_radians>, "angle">(rotate_rad_doc),
            std::tuple{
                frame::method<"cross", cross_z<V>, "other">(
                    "The z component of the cross product of (x, y, 0) and (other.x, other.y, 0), in\n"
                    "32-bit floats: positive when other is counter-clockwise from this vector."),
                frame::method<"as_polar", as_polar<V>>(
                    "(length, angle): the angle in degrees from the x axis, in (-180, 180]; the zero\n"
                    "vector gives (0.0, 0.0). ValueError if a component is not finite."),
            });
    } else {
        constexpr const char* rotate_doc =
            "this vector turned by an angle in degrees about the axis (any non-zero length),\n"
            "counter-clockwise seen from the axis's tip; quarter turns are exact. ValueError if the\n"
            "angle is not finite or the axis is zero or not finite.";
        constexpr const char* rotate_rad_doc =
            "this vector turned by an angle in radians about the axis (any non-zero length),\n"
            "counter-clockwise seen from the axis's tip; any finite angle, however large, turns by\n"
            "its exact value. ValueError if the angle is not finite or the axis is zero or not\n"
            "finite.";
        constexpr const char* axis_doc =
            "this vector turned about the named coordinate axis, counter-clockwise seen from its\n"
            "positive side; degrees, or radians for the _rad form. ValueError if the angle is not\n"
            "finite.";
        return std::tuple_cat(
            pair<V, "to_rotated", "get_rotated", rotate_about<V, turn_degrees>, "angle", "axis">(rotate_doc),
            pair<V, "to_rotated_rad", "get_rotated_rad", rotate_about<V, turn_radians>, "angle", "axis">(rotate_rad_doc),
            pair<V, "to_rotated_x", "get_rotated_x", rotate_about_axis<V, 0, turn_degrees>, "angle">(axis_doc),
            pair<V, "to_rotated_x_rad", "get_rotated_x_rad", rotate_about_axis<V, 0, turn_radians>, "angle">(axis_doc),
            pair<V, "to_rotated_y", "get_rotated_y", rotate_about_axis<V, 1, turn_degrees>, "angle">(axis_doc),
            pair<V, "to_rotated_y_rad", "get_rotated_y_rad", rotate_about_axis<V, 1, turn_radians>, "angle">(axis_doc),
            pair<V, "to_rotated_z", "get_rotated_z", rotate_about_axis<V, 2, turn_degrees>, "angle">(axis_doc),
            pair<V, "to_rotated_z_rad", "get_rotated_z_rad", rotate_about_axis<V, 2, turn_radians>, "angle">(axis_doc));
    }
}

// The shared methods, the geometry, then `extra`, as the type's method table.
template <class V, class... Extra>
auto methods_with_geometry(Extra... extra) {
    return std::apply([&](auto... geometric) { return methods<V>(geometric..., extra...); },
                      std::tuple_cat(geometry_shared<V>(), geometry_own<V>()));
}

// Vector2.from_polar(length, angle), the inverse of as_polar.
template <class V>
PyMethodDef from_polar_method() {
    return frame::static_method<V, "from_polar", from_polar<V>, "length", "angle">(
        "A new vector of the given length at an angle in degrees from the x axis (quarter turns\n"
        "exact). ValueError if either is not finite.");
}

}  // namespace tavoro::vec
