// The window's input: keyboard and mouse as raylib reads them, scripted input that goes through
// the same state (raylib's automation events), and recordings of a run's input that replay frame
// by frame. Headless there are no devices, so scripted and replayed input is all there is; on the
// desktop both come together, through the open window's raylib (display::rl()).
//
// raylib reads devices when a frame ends, after it has kept the last frame's state, so a frame
// sees each press and release as a change. Scripted input waits for the next frame to begin and
// arrives the same way; typed characters beyond raylib's 16 a frame go on into the frames after.
#include "window.hpp"

#include "../shared/arguments.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavoro::window {
namespace {

constexpr const char* no_char_queue =
    "this raylib cannot queue typed characters (it lacks InjectCharPressed)";
constexpr const char* surrogate = "text must not contain lone surrogates (got U+%04X)";
constexpr const char* bad_wheel = "amount must be a whole number of steps from -1000000 to 1000000 (got %R)";
constexpr const char* not_recording = "no recording was started";
constexpr const char* bad_recording = "line %d of the recording %R: %s";
constexpr const char* too_large = "the recording %R is larger than 64 MiB";
constexpr const char* header = "tavoro-input 1";
constexpr const char* bad_gamepad = "gamepad must be from 0 to 3 (got %d)";
constexpr const char* bad_gamepad_part = "%s must be from 0 to %d (got %d)";
constexpr long largest_recording = 64L << 20;

// raylib's automation event types (rcore.c numbers them; raylib.h does not).
enum EventType : unsigned { key_up_event = 1, key_down_event = 2, button_up_event = 5,
                            button_down_event = 6, mouse_event = 7, wheel_event = 8 };

struct Named {
    const char* name;
    int value;
};

constexpr Named keys[] = {
    {"APOSTROPHE", 39}, {"COMMA", 44}, {"MINUS", 45}, {"PERIOD", 46}, {"SLASH", 47},
    {"ZERO", 48}, {"ONE", 49}, {"TWO", 50}, {"THREE", 51}, {"FOUR", 52}, {"FIVE", 53},
    {"SIX", 54}, {"SEVEN", 55}, {"EIGHT", 56}, {"NINE", 57}, {"SEMICOLON", 59}, {"EQUAL", 61},
    {"A", 65}, {"B", 66}, {"C", 67}, {"D", 68}, {"E", 69}, {"F", 70}, {"G", 71}, {"H", 72},
    {"I", 73}, {"J", 74}, {"K", 75}, {"L", 76}, {"M", 77}, {"N", 78}, {"O", 79}, {"P", 80},
    {"Q", 81}, {"R", 82}, {"S", 83}, {"T", 84}, {"U", 85}, {"V", 86}, {"W", 87}, {"X", 88},
    {"Y", 89}, {"Z", 90}, {"LEFT_BRACKET", 91}, {"BACKSLASH", 92}, {"RIGHT_BRACKET", 93},
    {"GRAVE", 96}, {"SPACE", 32}, {"ESCAPE", 256}, {"ENTER", 257}, {"TAB", 258},
    {"BACKSPACE", 259}, {"INSERT", 260}, {"DELETE", 261}, {"RIGHT", 262}, {"LEFT", 263},
    {"DOWN", 264}, {"UP", 265}, {"PAGE_UP", 266}, {"PAGE_DOWN", 267}, {"HOME", 268},
    {"END", 269}, {"CAPS_LOCK", 280}, {"SCROLL_LOCK", 281}, {"NUM_LOCK", 282},
    {"PRINT_SCREEN", 283}, {"PAUSE", 284}, {"F1", 290}, {"F2", 291}, {"F3", 292}, {"F4", 293},
    {"F5", 294}, {"F6", 295}, {"F7", 296}, {"F8", 297}, {"F9", 298}, {"F10", 299},
    {"F11", 300}, {"F12", 301}, {"LEFT_SHIFT", 340}, {"LEFT_CONTROL", 341}, {"LEFT_ALT", 342},
    {"LEFT_SUPER", 343}, {"RIGHT_SHIFT", 344}, {"RIGHT_CONTROL", 345}, {"RIGHT_ALT", 346},
    {"RIGHT_SUPER", 347}, {"KB_MENU", 348}, {"KP_0", 320}, {"KP_1", 321}, {"KP_2", 322},
    {"KP_3", 323}, {"KP_4", 324}, {"KP_5", 325}, {"KP_6", 326}, {"KP_7", 327}, {"KP_8", 328},
    {"KP_9", 329}, {"KP_DECIMAL", 330}, {"KP_DIVIDE", 331}, {"KP_MULTIPLY", 332},
    {"KP_SUBTRACT", 333}, {"KP_ADD", 334}, {"KP_ENTER", 335}, {"KP_EQUAL", 336},
};

constexpr Named buttons[] = {
    {"LEFT", 0}, {"RIGHT", 1}, {"MIDDLE", 2}, {"SIDE", 3}, {"EXTRA", 4}, {"FORWARD", 5}, {"BACK", 6},
};

// The names recordings give the events, in InputKind order.
constexpr const char* kind_names[] = {"key_down", "key_up", "button_down", "button_up",
                                      "mouse",    "wheel",  "char"};

void play(unsigned type, int a = 0, int b = 0) {
    display::rl().PlayAutomationEvent(AutomationEvent{.frame = 0, .type = type, .params = {a, b, 0, 0}});
}

PyObject* vector(::Vector2 v) { return Vector2::vtable->cfrom_floats(v.x, v.y); }

template <decltype(backend::Api::IsKeyDown) backend::Api::*Query, class Code>
PyObject* ask(Window* self, Code code) {
    if (!usable(self)) return nullptr;
    return PyBool_FromLong((display::rl().*Query)(code.value));
}

void record(Window* self, InputKind kind, int a, int b = 0) {
    self->recording->push_back({self->recording_frame, kind, a, b});
}

void schedule(Window* self, InputKind kind, int a, int b = 0) {
    if (!self->pending) self->pending = new std::vector<InputEvent>;
    self->pending->push_back({0, kind, a, b});
}

void apply(const InputEvent& event) {
    switch (event.kind) {
        case key_down: play(key_down_event, event.a); break;
        case key_up: play(key_up_event, event.a); break;
        case button_down: play(button_down_event, event.a); break;
        case button_up: play(button_up_event, event.a); break;
        case mouse_move: play(mouse_event, event.a, event.b); break;
        case wheel: play(wheel_event, event.a, event.b); break;
        case typed: if (display::rl().InjectCharPressed) display::rl().InjectCharPressed(event.a); break;
    }
}

// A recording's events as a file reads them back: parsed strictly, every value in its range.
bool check_event(const InputEvent& event, const char*& why) {
    auto within = [](int v, int low, int high) { return v >= low && v <= high; };
    bool ok = false;
    switch (event.kind) {
        case key_down: case key_up: ok = within(event.a, 1, 511) && event.b == 0; break;
        case button_down: case button_up: ok = within(event.a, 0, 7) && event.b == 0; break;
        case mouse_move: ok = within(event.a, -10000000, 10000000) && within(event.b, -10000000, 10000000); break;
        case wheel: ok = within(event.a, -1000000, 1000000) && within(event.b, -1000000, 1000000); break;
        case typed: ok = within(event.a, 1, 0x10FFFF) && !within(event.a, 0xD800, 0xDFFF) && event.b == 0; break;
    }
    if (!ok) why = "a value is out of range";
    return ok;
}

bool parse_line(char* line, int previous_frame, InputEvent& event, const char*& why) {
    char* end;
    errno = 0;
    long frame = std::strtol(line, &end, 10);
    if (end == line || *end != ' ' || errno || frame < previous_frame || frame > 0x7FFFFFFF) {
        why = "expected a frame number, not below the one before it";
        return false;
    }
    char* name = end + 1;
    char* name_end = std::strchr(name, ' ');
    if (!name_end) {
        why = "expected an event name and two numbers";
        return false;
    }
    *name_end = '\0';
    int kind = 0;
    while (kind < 7 && std::strcmp(name, kind_names[kind]) != 0) ++kind;
    if (kind == 7) {
        why = "unknown event";
        return false;
    }
    long values[2];
    char* cursor = name_end + 1;
    for (long& value : values) {
        errno = 0;
        value = std::strtol(cursor, &end, 10);
        if (end == cursor || errno || value < -0x7FFFFFFF || value > 0x7FFFFFFF) {
            why = "expected two numbers after the event name";
            return false;
        }
        cursor = end;
    }
    if (*cursor != '\0') {
        why = "unexpected text after the event";
        return false;
    }
    event = {static_cast<int>(frame), kind, static_cast<int>(values[0]), static_cast<int>(values[1])};
    return check_event(event, why);
}

// The file's bytes (null with OSError or ValueError set).
char* read_file(PyObject* path, long& size) {
    std::FILE* file = std::fopen(PyBytes_AS_STRING(path), "rb");
    if (!file) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        return nullptr;
    }
    char* data = nullptr;
    if (std::fseek(file, 0, SEEK_END) == 0 && (size = std::ftell(file)) >= 0 &&
        std::fseek(file, 0, SEEK_SET) == 0) {
        if (size > largest_recording) {
            PyErr_Format(PyExc_ValueError, too_large, path);
        } else if (!(data = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1)))) {
            PyErr_NoMemory();
        } else if (std::fread(data, 1, static_cast<std::size_t>(size), file) != static_cast<std::size_t>(size)) {
            std::free(data);
            data = nullptr;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        } else {
            data[size] = '\0';
        }
    } else {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    }
    std::fclose(file);
    return data;
}

bool parse_recording(char* data, long size, PyObject* path, std::vector<InputEvent>& events) {
    int number = 0;
    int previous_frame = 0;
    for (char* line = data; line < data + size;) {
        char* end = static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(data + size - line)));
        if (!end) end = data + size;
        *end = '\0';
        ++number;
        const char* why = nullptr;
        if (std::strlen(line) != static_cast<std::size_t>(end - line)) {
            why = "NUL character";
        } else if (number == 1) {
            if (std::strcmp(line, header) != 0) why = "not a tavoro input recording";
        } else {
            InputEvent event;
            if (parse_line(line, previous_frame, event, why)) {
                events.push_back(event);
                previous_frame = event.frame;
            }
        }
        if (why) {
            PyErr_Format(PyExc_ValueError, bad_recording, number, path, why);
            return false;
        }
        line = end + 1;
    }
    if (number == 0) {
        PyErr_Format(PyExc_ValueError, bad_recording, 1, path, "not a tavoro input recording");
        return false;
    }
    return true;
}

PyObject* file_system_path(PyObject* path) {
    PyObject* converted = nullptr;
    if (!PyUnicode_FSConverter(path, &converted)) return nullptr;
    return converted;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Devices

PyObject* is_key_down(Window* self, KeyCode key) { return ask<&backend::Api::IsKeyDown>(self, key); }
PyObject* is_key_up(Window* self, KeyCode key) { return ask<&backend::Api::IsKeyUp>(self, key); }
PyObject* is_key_pressed(Window* self, KeyCode key) { return ask<&backend::Api::IsKeyPressed>(self, key); }
PyObject* is_key_released(Window* self, KeyCode key) { return ask<&backend::Api::IsKeyReleased>(self, key); }

PyObject* is_mouse_button_down(Window* self, ButtonCode button) {
    return ask<&backend::Api::IsMouseButtonDown>(self, button);
}
PyObject* is_mouse_button_up(Window* self, ButtonCode button) {
    return ask<&backend::Api::IsMouseButtonUp>(self, button);
}
PyObject* is_mouse_button_pressed(Window* self, ButtonCode button) {
    return ask<&backend::Api::IsMouseButtonPressed>(self, button);
}
PyObject* is_mouse_button_released(Window* self, ButtonCode button) {
    return ask<&backend::Api::IsMouseButtonReleased>(self, button);
}

PyObject* get_key_pressed(Window* self) {
    if (!usable(self)) return nullptr;
    return PyLong_FromLong(display::rl().GetKeyPressed());
}

PyObject* get_char_pressed(Window* self) {
    if (!usable(self)) return nullptr;
    int codepoint = display::rl().GetCharPressed();
    if (codepoint <= 0 || codepoint > 0x10FFFF) return Py_NewRef(frame::state.empty_str);
    return PyUnicode_FromOrdinal(codepoint);
}

PyObject* get_mouse_position(Window* self, void*) {
    if (!usable(self)) return nullptr;
    return vector(display::rl().GetMousePosition());
}

PyObject* get_mouse_delta(Window* self, void*) {
    if (!usable(self)) return nullptr;
    return vector(display::rl().GetMouseDelta());
}

PyObject* get_mouse_wheel(Window* self, void*) {
    if (!usable(self)) return nullptr;
    return PyFloat_FromDouble(display::rl().GetMouseWheelMove());
}

// Gamepads as GLFW reports them (raylib's four); headless none is available.
bool check_gamepad(int gamepad, int part, int parts, const char* name) {
    if (gamepad < 0 || gamepad > 3) {
        PyErr_Format(PyExc_ValueError, bad_gamepad, gamepad);
        return false;
    }
    if (part >= 0 && part < parts) return true;
    PyErr_Format(PyExc_ValueError, bad_gamepad_part, name, parts - 1, part);
    return false;
}

PyObject* is_gamepad_available(Window* self, int gamepad) {
    if (!usable(self) || !check_gamepad(gamepad, 0, 1, "")) return nullptr;
    return PyBool_FromLong(display::rl().IsGamepadAvailable(gamepad));
}

PyObject* is_gamepad_button_down(Window* self, int gamepad, int button) {
    if (!usable(self) || !check_gamepad(gamepad, button, 32, "button")) return nullptr;
    return PyBool_FromLong(display::rl().IsGamepadButtonDown(gamepad, button));
}

PyObject* gamepad_axis(Window* self, int gamepad, int axis) {
    if (!usable(self) || !check_gamepad(gamepad, axis, 8, "axis")) return nullptr;
    return PyFloat_FromDouble(display::rl().GetGamepadAxisMovement(gamepad, axis));
}

// ---------------------------------------------------------------------------------------------
// Scripted input

template <InputKind Kind, class Code>
PyObject* scripted(Window* self, Code code) {
    if (!usable(self)) return nullptr;
    schedule(self, Kind, code.value);
    Py_RETURN_NONE;
}

PyObject* press_key(Window* self, KeyCode key) { return scripted<key_down>(self, key); }
PyObject* release_key(Window* self, KeyCode key) { return scripted<key_up>(self, key); }
PyObject* press_mouse_button(Window* self, ButtonCode button) {
    return scripted<button_down>(self, button);
}
PyObject* release_mouse_button(Window* self, ButtonCode button) {
    return scripted<button_up>(self, button);
}

PyObject* move_mouse(Window* self, PyObject* position) {
    if (!usable(self)) return nullptr;
    ::Vector2 to;
    if (!arguments::read_point(position, "position", to)) return nullptr;
    schedule(self, mouse_move, static_cast<int>(std::lround(to.x)), static_cast<int>(std::lround(to.y)));
    Py_RETURN_NONE;
}

PyObject* scroll_mouse(Window* self, double amount) {
    if (!usable(self)) return nullptr;
    if (!(std::fabs(amount) <= 1e6) || amount != std::floor(amount)) {
        frame::Ref number(PyFloat_FromDouble(amount));
        return number ? PyErr_Format(PyExc_ValueError, bad_wheel, number.get()) : nullptr;
    }
    schedule(self, wheel, 0, static_cast<int>(amount));
    Py_RETURN_NONE;
}

PyObject* type_text(Window* self, PyObject* text) {
    if (!usable(self)) return nullptr;
    if (!PyUnicode_Check(text)) return frame::raise_expected("a str", text), nullptr;
    if (!display::rl().InjectCharPressed) {
        PyErr_SetString(PyExc_RuntimeError, no_char_queue);
        return nullptr;
    }
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
        if (c >= 0xD800 && c <= 0xDFFF) return PyErr_Format(PyExc_ValueError, surrogate, c);
    }
    for (Py_ssize_t i = 0; i < length; ++i) schedule(self, typed, static_cast<int>(PyUnicode_READ_CHAR(text, i)));
    Py_RETURN_NONE;
}

// Applies the scripted input (characters as far as raylib's queue takes them), recording it as it
// goes: the frame's end would not see a character.
void apply_pending(Window* self) {
    if (!self->pending) return;
    std::vector<InputEvent>& events = *self->pending;
    std::size_t kept = 0;
    bool queue_full = false;
    for (const InputEvent& event : events) {
        if (event.kind != typed) {
            apply(event);
        } else if (!queue_full && display::rl().InjectCharPressed(event.a)) {
            if (self->recording) record(self, typed, event.a);
        } else {
            queue_full = true;
            events[kept++] = event;
        }
    }
    events.resize(kept);
}

// ---------------------------------------------------------------------------------------------
// Recordings: the changes each frame ends with, so a replay gives every frame the input it had.

PyObject* start_recording(Window* self) {
    if (!usable(self)) return nullptr;
    if (!self->recording) self->recording = new std::vector<InputEvent>;
    self->recording->clear();
    self->recording_frame = 0;
    for (int key = 1; key < 512; ++key) self->recorded_keys[key] = display::rl().IsKeyDown(key);
    for (int button = 0; button < 8; ++button) self->recorded_buttons[button] = display::rl().IsMouseButtonDown(button);
    ::Vector2 mouse = display::rl().GetMousePosition();
    self->recorded_mouse[0] = static_cast<int>(std::lround(mouse.x));
    self->recorded_mouse[1] = static_cast<int>(std::lround(mouse.y));
    Py_RETURN_NONE;
}

void record_frame(Window* self) {
    if (!self->recording) return;
    for (int key = 1; key < 512; ++key) {
        bool down = display::rl().IsKeyDown(key);
        if (down == self->recorded_keys[key]) continue;
        self->recorded_keys[key] = down;
        record(self, down ? key_down : key_up, key);
    }
    for (int button = 0; button < 8; ++button) {
        bool down = display::rl().IsMouseButtonDown(button);
        if (down == self->recorded_buttons[button]) continue;
        self->recorded_buttons[button] = down;
        record(self, down ? button_down : button_up, button);
    }
    ::Vector2 mouse = display::rl().GetMousePosition();
    int x = static_cast<int>(std::lround(mouse.x)), y = static_cast<int>(std::lround(mouse.y));
    if (x != self->recorded_mouse[0] || y != self->recorded_mouse[1]) {
        self->recorded_mouse[0] = x;
        self->recorded_mouse[1] = y;
        record(self, mouse_move, x, y);
    }
    ::Vector2 moved = display::rl().GetMouseWheelMoveV();
    if (moved.x != 0.0f || moved.y != 0.0f)
        record(self, wheel, static_cast<int>(std::lround(moved.x)), static_cast<int>(std::lround(moved.y)));
    ++self->recording_frame;
}

PyObject* stop_recording(Window* self, PyObject* path) {
    if (!self->recording) {
        PyErr_SetString(PyExc_RuntimeError, not_recording);
        return nullptr;
    }
    frame::Ref encoded(file_system_path(path));
    if (!encoded) return nullptr;
    std::FILE* file = std::fopen(PyBytes_AS_STRING(encoded.get()), "w");
    if (!file) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    bool written = std::fprintf(file, "%s\n", header) > 0;
    for (const InputEvent& event : *self->recording)
        written = written && std::fprintf(file, "%d %s %d %d\n", event.frame, kind_names[event.kind],
                                          event.a, event.b) > 0;
    written = (std::fclose(file) == 0) && written;
    if (!written) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    std::size_t count = self->recording->size();
    delete self->recording;
    self->recording = nullptr;
    return PyLong_FromSize_t(count);
}

PyObject* replay(Window* self, PyObject* path) {
    if (!usable(self)) return nullptr;
    frame::Ref encoded(file_system_path(path));
    if (!encoded) return nullptr;
    long size = 0;
    char* data = read_file(encoded.get(), size);
    if (!data) return nullptr;
    auto* events = new std::vector<InputEvent>;
    bool parsed = parse_recording(data, size, path, *events);
    std::free(data);
    if (!parsed) {
        delete events;
        return nullptr;
    }
    delete self->replay;
    self->replay = events;
    self->replay_next = 0;
    self->replay_frame = 0;
    Py_RETURN_NONE;
}

void replay_frame(Window* self) {
    apply_pending(self);
    if (!self->replay) return;
    const std::vector<InputEvent>& events = *self->replay;
    // A recording made meanwhile sees replayed characters as it sees scripted ones (the frame's
    // end sees the rest).
    for (; self->replay_next < events.size() && events[self->replay_next].frame <= self->replay_frame; ++self->replay_next) {
        const InputEvent& event = events[self->replay_next];
        apply(event);
        if (event.kind == typed && self->recording) record(self, typed, event.a);
    }
    ++self->replay_frame;
    if (self->replay_next == events.size()) {
        delete self->replay;
        self->replay = nullptr;
    }
}

void stop_input(Window* self) {
    delete self->pending;
    self->pending = nullptr;
    delete self->recording;
    self->recording = nullptr;
    delete self->replay;
    self->replay = nullptr;
}

PyObject* get_recording(Window* self, void*) { return PyBool_FromLong(self->recording != nullptr); }
PyObject* get_replaying(Window* self, void*) { return PyBool_FromLong(self->replay != nullptr); }

// ---------------------------------------------------------------------------------------------
// Key and MouseButton: IntEnums made from the tables above.

int add_enumeration(PyObject* module, PyObject* int_enum, const char* name, const Named* table,
                    std::size_t count) {
    frame::Ref members(PyList_New(0));
    if (!members) return -1;
    for (std::size_t i = 0; i < count; ++i) {
        frame::Ref member(Py_BuildValue("(si)", table[i].name, table[i].value));
        if (!member || PyList_Append(members.get(), member.get()) < 0) return -1;
    }
    frame::Ref kwargs(Py_BuildValue("{s:s,s:s}", "module", "tavoro.window.window", "qualname", name));
    frame::Ref args(Py_BuildValue("(sO)", name, members.get()));
    if (!kwargs || !args) return -1;
    frame::Ref enumeration(PyObject_Call(int_enum, args.get(), kwargs.get()));
    if (!enumeration) return -1;
    return PyModule_AddObjectRef(module, name, enumeration.get());
}

int add_enumerations(PyObject* module) {
    if (arguments::bind() < 0) return -1;
    frame::Ref enum_module(PyImport_ImportModule("enum"));
    if (!enum_module) return -1;
    frame::Ref int_enum(PyObject_GetAttrString(enum_module.get(), "IntEnum"));
    if (!int_enum) return -1;
    if (add_enumeration(module, int_enum.get(), "Key", keys, std::size(keys)) < 0) return -1;
    return add_enumeration(module, int_enum.get(), "MouseButton", buttons, std::size(buttons));
}

}  // namespace tavoro::window
