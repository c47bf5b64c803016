// The raylib functions the window and drawing modules call, as one table of pointers.
//
// raylib's platform is fixed when it is built, so the package carries two: the headless build,
// which every module links (audio and images use it whatever window is open), and the desktop
// build (GLFW, OpenGL), which the window module loads privately when a desktop window opens. Both
// export the same names, so the desktop build is reached only through this table, filled by
// dlsym; the headless one fills it from the linked library. The open window's table is published
// in the display state (display.hpp), and drawing calls go through it: an indirect call, as the
// linked library's own calls through the PLT are.
#pragma once

#include <raylib.h>
#include <rlgl.h>

#include <dlfcn.h>

// Queues a typed character; a raylib patch of this package's build (bound weakly, so that a
// raylib without it still loads: there, typed characters cannot be scripted or replayed).
extern "C" bool InjectCharPressed(int codepoint) __attribute__((weak));

namespace tavoro::backend {

// X(name): every function the table holds. A list at the C boundary: each name is both a
// field's type (decltype of the linked function) and the symbol dlsym looks up.
#define TAVORO_RAYLIB_CALLS(X)                                                                    \
    X(InitWindow) X(IsWindowReady) X(CloseWindow) X(WindowShouldClose) X(SetConfigFlags)         \
    X(SetTraceLogLevel) X(SetTraceLogCallback) X(SetTargetFPS) X(SetExitKey) X(GetTime)          \
    X(SetWindowTitle)                                                                            \
    X(BeginDrawing) X(EndDrawing) X(BeginMode2D) X(EndMode2D) X(rlDrawRenderBatchActive)         \
    X(LoadImageFromScreen) X(GetScreenWidth) X(GetScreenHeight) X(GetRenderWidth)                \
    X(GetRenderHeight) X(IsWindowResized) X(IsWindowFullscreen) X(ToggleFullscreen)              \
    X(IsWindowState) X(SetWindowState) X(ClearWindowState) X(SetWindowIcon) X(GetCurrentMonitor) \
    X(GetMonitorWidth) X(GetMonitorHeight) X(GetMonitorRefreshRate) X(GetWindowScaleDPI)         \
    X(ShowCursor) X(HideCursor) X(IsCursorHidden)                                                \
    X(PlayAutomationEvent) X(IsKeyDown) X(IsKeyUp) X(IsKeyPressed) X(IsKeyReleased)              \
    X(GetKeyPressed) X(GetCharPressed) X(IsMouseButtonDown) X(IsMouseButtonUp)                   \
    X(IsMouseButtonPressed) X(IsMouseButtonReleased) X(GetMousePosition) X(GetMouseDelta)        \
    X(GetMouseWheelMove) X(GetMouseWheelMoveV) X(IsGamepadAvailable) X(IsGamepadButtonDown)      \
    X(GetGamepadAxisMovement)                                                                    \
    X(ClearBackground) X(DrawPixelV) X(DrawLineV) X(DrawLineEx) X(DrawRectangleRec)              \
    X(DrawRectangleLinesEx) X(DrawRectangleRounded) X(DrawRectanglePro) X(DrawCircleV)           \
    X(DrawCircleLinesV) X(DrawCircleSector) X(DrawEllipseV) X(DrawTriangle) X(DrawTriangleFan)   \
    X(DrawTextEx) X(MeasureTextEx) X(GetFontDefault)                                            \
    X(LoadTextureFromImage) X(UnloadTexture) X(SetTextureFilter) X(DrawTexturePro)              \
    X(LoadImageFromTexture) X(LoadRenderTexture) X(UnloadRenderTexture) X(BeginTextureMode)     \
    X(EndTextureMode)

struct Api {
#define TAVORO_API_FIELD(name) decltype(&::name) name;
    TAVORO_RAYLIB_CALLS(TAVORO_API_FIELD)
#undef TAVORO_API_FIELD
    // Null where the raylib has no such patch.
    decltype(&::InjectCharPressed) InjectCharPressed;
};

// The linked (headless) raylib's table.
inline const Api linked = {
#define TAVORO_API_LINKED(name) &::name,
    TAVORO_RAYLIB_CALLS(TAVORO_API_LINKED)
#undef TAVORO_API_LINKED
    ::InjectCharPressed,
};

// Fills `out` from the library `handle`; false with `missing` naming the first function it lacks.
inline bool resolve(void* handle, Api& out, const char*& missing) {
#define TAVORO_API_RESOLVE(name)                                                 \
    out.name = reinterpret_cast<decltype(out.name)>(dlsym(handle, #name));       \
    if (!out.name) {                                                             \
        missing = #name;                                                         \
        return false;                                                            \
    }
    TAVORO_RAYLIB_CALLS(TAVORO_API_RESOLVE)
#undef TAVORO_API_RESOLVE
    out.InjectCharPressed =
        reinterpret_cast<decltype(out.InjectCharPressed)>(dlsym(handle, "InjectCharPressed"));
    return true;
}

#undef TAVORO_RAYLIB_CALLS

}  // namespace tavoro::backend
