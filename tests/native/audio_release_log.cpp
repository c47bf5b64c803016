// Test-only: a log of raylib's audio loads and releases. Preloaded (LD_PRELOAD) into a test's
// subprocess, it stands in front of raylib's load and release functions for streams, sounds,
// aliases and music, appends one line per call made from outside raylib ("<function> <buffer
// address>") to the file named by TAVORO_RELEASE_LOG, and forwards the call to raylib.
#include <raylib.h>

#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Calls that raylib makes to itself (UnloadMusicStream releasing its stream) are not logged.
thread_local int depth = 0;

struct Call {
    Call() { ++depth; }
    ~Call() { --depth; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
};

void note(const char* function, const void* buffer) {
    if (depth != 1) return;
    const char* path = std::getenv("TAVORO_RELEASE_LOG");
    if (!path) return;
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "%s %p\n", function, buffer);
        std::fclose(out);
    }
}

// raylib comes into the process with the extension modules, loaded locally (under a name of its
// own in a wheel), so it is looked up among the loaded objects by name rather than through
// RTLD_NEXT.
int find_raylib(dl_phdr_info* info, std::size_t, void* out) {
    if (!std::strstr(info->dlpi_name, "libraylib")) return 0;
    *static_cast<void**>(out) = dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD);
    return 1;
}

template <class F>
F real(const char* name) {
    void* raylib = nullptr;
    dl_iterate_phdr(find_raylib, &raylib);
    void* found = raylib ? dlsym(raylib, name) : nullptr;
    if (!found) std::abort();
    return reinterpret_cast<F>(found);
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT AudioStream LoadAudioStream(unsigned int rate, unsigned int size, unsigned int channels) {
    Call call;
    static auto next = real<AudioStream (*)(unsigned, unsigned, unsigned)>("LoadAudioStream");
    AudioStream stream = next(rate, size, channels);
    note("LoadAudioStream", stream.buffer);
    return stream;
}

EXPORT void UnloadAudioStream(AudioStream stream) {
    Call call;
    note("UnloadAudioStream", stream.buffer);
    static auto next = real<void (*)(AudioStream)>("UnloadAudioStream");
    next(stream);
}

EXPORT Sound LoadSound(const char* file_name) {
    Call call;
    static auto next = real<Sound (*)(const char*)>("LoadSound");
    Sound sound = next(file_name);
    note("LoadSound", sound.stream.buffer);
    return sound;
}

EXPORT Sound LoadSoundAlias(Sound source) {
    Call call;
    static auto next = real<Sound (*)(Sound)>("LoadSoundAlias");
    Sound alias = next(source);
    note("LoadSoundAlias", alias.stream.buffer);
    return alias;
}

EXPORT void UnloadSound(Sound sound) {
    Call call;
    note("UnloadSound", sound.stream.buffer);
    static auto next = real<void (*)(Sound)>("UnloadSound");
    next(sound);
}

EXPORT void UnloadSoundAlias(Sound alias) {
    Call call;
    note("UnloadSoundAlias", alias.stream.buffer);
    static auto next = real<void (*)(Sound)>("UnloadSoundAlias");
    next(alias);
}

EXPORT Music LoadMusicStream(const char* file_name) {
    Call call;
    static auto next = real<Music (*)(const char*)>("LoadMusicStream");
    Music music = next(file_name);
    note("LoadMusicStream", music.stream.buffer);
    return music;
}

EXPORT void UnloadMusicStream(Music music) {
    Call call;
    note("UnloadMusicStream", music.stream.buffer);
    static auto next = real<void (*)(Music)>("UnloadMusicStream");
    next(music);
}
