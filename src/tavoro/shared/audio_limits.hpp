// The values raylib's mixer handles: what the audio objects refuse before raylib sees anything
// outside them, and what a loaded file must describe to count as loaded.
//
// - Sample sizes: raylib mixes 8-bit unsigned, 16-bit signed and 32-bit float samples; a stream of
//   any other size is allocated as floats but filled sampleSize/8 bytes a sample, past its buffer.
// - Channels: miniaudio's converter holds at most 254; past that raylib's mixing buffer, 4096
//   bytes, cannot hold a single frame and the mixer loops without end holding the audio lock.
// - Sample rate and pitch: the mixer reads sample_rate * pitch / device rate input frames for each
//   frame it plays. Measured on the null device at 48 kHz, a ratio of 128 costs well under a
//   millisecond a call, 256 up to 8 ms and 512 up to 40 ms with the audio lock held, so the
//   limits keep the ratio at 128 or less: 384000 Hz at pitch 16. Below 1/64 the output rate
//   raylib computes overflows its 32-bit integer. raylib ignores a pitch of zero or less.
// - Sub-buffers: raylib counts the bytes of a stream's two sub-buffers in 32 bits, so a size
//   whose pair does not fit 2^32 - 1 bytes for the stream's layout would wrap to a small buffer
//   that the mixer then overruns (1 << 30 frames of 16-bit stereo wraps to 0 bytes).
// - Volume and pan: the mixer multiplies every sample by the volume, so NaN or an infinity wipes
//   out the whole mix, and huge gains send huge floats to the device. A volume goes up to 16
//   (24 dB of gain, far past full scale) either way; below 0 it also inverts the waveform. raylib
//   clamps the pan to its range but lets NaN through, and the pan read back is what plays, so a
//   pan outside the range is refused rather than clamped.
#pragma once

#include "frame.hpp"

#include <cmath>

namespace tavoro::audio_limits {

inline constexpr int max_channels = 254;
inline constexpr int max_sample_rate = 384000;
inline constexpr double min_pitch = 1.0 / 64;
inline constexpr double max_pitch = 16.0;

inline constexpr const char* sample_size_refused = "sample_size must be 8, 16 or 32 (got %d)";
inline constexpr const char* channels_refused = "channels must be in 0..%d (got %d)";
inline constexpr const char* sample_rate_refused = "sample_rate must be in 0..%d (got %d)";
inline constexpr unsigned long long max_stream_buffer_bytes = 0xFFFFFFFFull;
inline constexpr double max_volume = 16.0;

inline constexpr const char* stream_buffer_refused =
    "two sub-buffers of %d frames of %d x %d-bit samples take %llu bytes, more than the %llu a "
    "stream can hold (set fewer frames with tavoro.audio_device.set_stream_buffer_frames)";
inline constexpr const char* volume_refused = "volume must be in -16.0..16.0 (got %R)";
inline constexpr const char* pan_refused = "pan must be in %s (got %R)";
inline constexpr const char* pitch_refused =
    "pitch must be in 0.015625..16.0, or 0 or less to leave it as it is (got %R)";

inline bool sample_size_ok(int size) { return size == 8 || size == 16 || size == 32; }

// A stream layout raylib can mix. Zero channels or a zero rate pass: raylib itself makes no
// stream of them, which reads as not valid.
inline bool layout_ok(int sample_rate, int sample_size, int channels) {
    return sample_size_ok(sample_size) && channels >= 0 && channels <= max_channels &&
           sample_rate >= 0 && sample_rate <= max_sample_rate;
}

// The same, with the ValueError that names the first value out of range.
inline bool check_layout(int sample_rate, int sample_size, int channels) {
    if (!sample_size_ok(sample_size)) {
        PyErr_Format(PyExc_ValueError, sample_size_refused, sample_size);
        return false;
    }
    if (channels < 0 || channels > max_channels) {
        PyErr_Format(PyExc_ValueError, channels_refused, max_channels, channels);
        return false;
    }
    if (sample_rate < 0 || sample_rate > max_sample_rate) {
        PyErr_Format(PyExc_ValueError, sample_rate_refused, max_sample_rate, sample_rate);
        return false;
    }
    return true;
}

// The bytes of the two sub-buffers of `frames` frames each (0 for raylib's own choice, which is
// small) that raylib allocates for a stream of the given layout (8, 16 or 32-bit samples).
inline unsigned long long stream_buffer_bytes(int frames, int sample_size, int channels) {
    return 2ull * static_cast<unsigned>(frames) * static_cast<unsigned>(channels) *
           static_cast<unsigned>(sample_size / 8);
}

// The same, with the ValueError that gives the numbers when it does not fit.
inline bool check_stream_buffer(int frames, int sample_size, int channels) {
    unsigned long long bytes = stream_buffer_bytes(frames, sample_size, channels);
    if (bytes <= max_stream_buffer_bytes) return true;
    PyErr_Format(PyExc_ValueError, stream_buffer_refused, frames, channels, sample_size, bytes,
                 max_stream_buffer_bytes);
    return false;
}

// A volume the mix takes (NaN refused); `given` is the Python value, for the message.
inline bool check_volume(double volume, PyObject* given) {
    if (volume >= -max_volume && volume <= max_volume) return true;
    PyErr_Format(PyExc_ValueError, volume_refused, given);
    return false;
}

// A pan in raylib's range, `low` to `high` (NaN refused).
inline bool check_pan(double pan, double low, double high, const char* range, PyObject* given) {
    if (pan >= low && pan <= high) return true;
    PyErr_Format(PyExc_ValueError, pan_refused, range, given);
    return false;
}

// A pitch the mixer keeps up with (NaN refused); `given` is the Python value, for the message.
inline bool check_pitch(double pitch, PyObject* given) {
    if (pitch <= 0.0 || (pitch >= min_pitch && pitch <= max_pitch)) return true;
    PyErr_Format(PyExc_ValueError, pitch_refused, given);
    return false;
}

}  // namespace tavoro::audio_limits
