#include "terralux.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <GL/glu.h>

#include "platform.h"
#include "tgaload.h"

#ifdef TERRALUX_PROFILE
#include <chrono>
#endif

// File-scope objects, built in this order before SDL_main runs; config reads config.xml at once.
T_GeoPointVector geoList;
T_TraceVector traces;
Point Camera;
Properties config("config.xml");

// The speeds the keys 5 to 9 choose, in degrees a tick; the program starts at key 6's.
const float SPEEDS[] = {0.1f, 0.5f, 1.0f, 3.0f, 5.0f};

std::atomic<float> itime{0.0f};
std::atomic<float> TIME_MOD{SPEEDS[1]};

bool musicIsOn = false;
bool soundsAreOn = false;
Mix_Music* music = nullptr;
Mix_Chunk* sounds[2] = {nullptr, nullptr};

GLuint pointList = 0;
GLuint dispList = 0;
GLuint texture_id[2] = {0, 0};

const double fov = 45.0;
const double near_plane = 1.0;
const double far_plane = 250.0;

namespace {

const int audio_rate = 22050;
const Uint16 audio_format = AUDIO_S16LSB;  // 0x8010
const int audio_channels = 2;
const int audio_buffers = 4096;

const float TRACE_STEP = 3747.6f;  // metres per frame at a TIME_MOD of 1
// Degrees the globe, and the marker frame with it, are turned about the x axis: the north pole
// leans towards the viewer.
const float TILT = 15.0f;

#ifdef TERRALUX_PROFILE
// Frame figures for the benchmark build: the traces' movement and vertex submission, timed
// inside the frame, against the whole pass of the main loop.
using Clock = std::chrono::steady_clock;
const Clock::time_point profile_start = Clock::now();
Clock::time_point profile_first_frame, profile_last_frame;
double profile_trace_seconds = 0;
long profile_frames = 0;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void profile_report() {
    if (profile_frames < 2) return;
    const double loop = seconds(profile_first_frame, profile_last_frame);
    const double frames = double(profile_frames - 1);
    std::fprintf(stderr,
                 "profile: first frame %.1f ms after start\n"
                 "profile: %ld frames, %.1f frames/s\n"
                 "profile: frame %.3f ms, traces %.4f ms (%.2f%% of the frame), GL and swap %.3f "
                 "ms\n",
                 seconds(profile_start, profile_first_frame) * 1e3, profile_frames, frames / loop,
                 loop / frames * 1e3, profile_trace_seconds / profile_frames * 1e3,
                 100.0 * profile_trace_seconds / profile_frames / (loop / frames),
                 (loop / frames - profile_trace_seconds / profile_frames) * 1e3);
}

void profile_frame() {
    profile_last_frame = Clock::now();
    if (profile_frames++ == 0) {
        profile_first_frame = profile_last_frame;
        atexit(profile_report);
    }
}
#endif

// A window setting, read as a float, is used truncated toward zero: it must give an int of at
// least 1. Infinities, NaN and values beyond INT_MAX are refused before any conversion to int.
bool usableWindowSetting(float value) {
    return std::isfinite(value) && value >= 1 && std::trunc(double(value)) <= double(INT_MAX);
}

[[noreturn]] void quit(int status) {
    platform_exit_asked();
    exit(status);
}

[[noreturn]] void fail(const char* message) {
    std::cerr << message << std::endl;
    quit(1);
}

// The name of the video driver SDL runs on: "x11", "wayland", "windib", ...
std::string videoDriver() {
    char name[32];
    return SDL_VideoDriverName(name, sizeof name) ? name : "";
}

// A quit event: the user's, or the sign of a lost display.
[[noreturn]] void quitOnEvent() { quit(platform_display_lost() ? 1 : 0); }

void play(Mix_Chunk* chunk) {
    if (soundsAreOn) Mix_PlayChannelTimed(-1, chunk, 0, -1);
}

}  // namespace

// Adds the step to the light's angle. Returning the interval lets SDL keep the timer running,
// at a steady 30 ms on average; a timer armed afresh on each tick would fire after about 21 ms,
// since SDL fires a new timer one 10 ms slice early.
Uint32 onTimer(Uint32 x) {
    itime.store(itime.load(std::memory_order_relaxed) + TIME_MOD.load(std::memory_order_relaxed),
                std::memory_order_relaxed);
    return x;
}

int SDL_main(int, char**) {
    struct {
        float x, y, z;  // width, height, colour depth
    } window;

    platform_start();
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0) fail(SDL_GetError());
    // With no display to reach, SDL 2 falls back to drawing offscreen, in a window no one sees.
    const std::string driver = videoDriver();
    if (driver == "offscreen" || driver == "dummy") fail("No available video device");
    if (Mix_OpenAudio(audio_rate, audio_format, audio_channels, audio_buffers) != 0)
        fail("Unable to open audio!");
    atexit(SDL_Quit);
    platform_at_exit();

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_WM_SetCaption("terralux", nullptr);

    // atof is strtod without an end pointer, but Windows' C runtime (msvcrt) reads neither "nan"
    // nor "inf" in its atof: strtod reads them everywhere.
    window.x = static_cast<float>(std::strtod(config.Get("window_Width").c_str(), nullptr));
    window.y = static_cast<float>(std::strtod(config.Get("window_Height").c_str(), nullptr));
    window.z = static_cast<float>(std::strtod(config.Get("window_Depth").c_str(), nullptr));
    musicIsOn = atoi(config.Get("music").c_str()) != 0;
    soundsAreOn = atoi(config.Get("sounds").c_str()) != 0;

    if (!usableWindowSetting(window.x) || !usableWindowSetting(window.y) ||
        !usableWindowSetting(window.z)) {
        std::cerr << "error in config: " << window.x << "x" << window.y << "x" << window.z
                  << std::endl;
        quit(1);
    }

    Uint32 flags = SDL_OPENGLBLIT;
    if (atoi(config.Get("window_fullscreen").c_str()) != 0) flags |= SDL_FULLSCREEN;
    if (SDL_SetVideoMode(static_cast<int>(window.x), static_cast<int>(window.y),
                         static_cast<int>(window.z), flags) == nullptr)
        fail(SDL_GetError());

    gl_init(static_cast<int>(window.x), static_cast<int>(window.y));
    InitDisplayLists();
    InitTexture();
    SDL_SetTimer(30, onTimer);

    music = Mix_LoadMUS("audio/music.mid");
    if (music == nullptr) std::cerr << "Mix_LoadMUS():" << Mix_GetError() << std::endl;
    sounds[0] = Mix_LoadWAV_RW(SDL_RWFromFile("audio/hit.wav", "rb"), 1);
    sounds[1] = Mix_LoadWAV_RW(SDL_RWFromFile("audio/message.wav", "rb"), 1);
    for (Mix_Chunk* sound : sounds) {
        if (sound == nullptr) std::cerr << "Mix_LoadWAV():" << Mix_GetError() << std::endl;
    }
    if (musicIsOn) Mix_PlayMusic(music, -1);

    for (;;) {
        sdl_events();
        gl_draw();
        SDL_GL_SwapBuffers();
#ifdef TERRALUX_PROFILE
        profile_frame();
#endif
    }
}

void sdl_events() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
            case SDL_MOUSEMOTION:
                if (event.motion.state & SDL_BUTTON_LMASK) {
                    // Nearer views turn more slowly per pixel; the remainder is dropped.
                    int divisor = Camera.z > 20 ? 4 : (Camera.z > 10 ? 2 : 1);
                    Camera.x += static_cast<float>(event.motion.xrel / divisor);
                    Camera.y += static_cast<float>(event.motion.yrel / divisor);
                } else if (event.motion.state & SDL_BUTTON_MMASK) {
                    Camera.z += static_cast<float>(event.motion.yrel);
                }
                break;
            case SDL_MOUSEBUTTONDOWN:
                if (event.button.button == SDL_BUTTON_WHEELUP) {
                    Camera.z += 1;
                } else if (event.button.button == SDL_BUTTON_WHEELDOWN) {
                    Camera.z -= 1;
                } else if (event.button.button == SDL_BUTTON_RIGHT) {
                    pick(event.button.x, event.button.y);
                }
                break;
            case SDL_KEYDOWN:
                switch (event.key.keysym.sym) {
                    case SDLK_ESCAPE:
                    case SDLK_q:
                    case SDLK_x: quit(0);
                    case SDLK_1:
                        glPolygonMode(GL_FRONT, GL_FILL);
                        glPolygonMode(GL_BACK, GL_FILL);
                        break;
                    case SDLK_2:
                        glPolygonMode(GL_FRONT, GL_LINE);
                        glPolygonMode(GL_BACK, GL_LINE);
                        break;
                    case SDLK_5:
                    case SDLK_6:
                    case SDLK_7:
                    case SDLK_8:
                    case SDLK_9:
                        TIME_MOD.store(SPEEDS[event.key.keysym.sym - SDLK_5],
                                       std::memory_order_relaxed);
                        break;
                    case SDLK_UP: Camera.y += 1; break;
                    case SDLK_DOWN: Camera.y -= 1; break;
                    case SDLK_RIGHT: Camera.x -= 1; break;
                    case SDLK_LEFT: Camera.x += 1; break;
                    case SDLK_KP_PLUS: Camera.z += 1; break;
                    case SDLK_KP_MINUS: Camera.z -= 1; break;
                    default: break;
                }
                break;
            case SDL_QUIT: quitOnEvent();
            default: break;
        }
    }
}

void gl_init(int w, int h) {
    GLfloat lt_ambient[] = {0.5f, 0.5f, 0.5f, 1.0f};
    GLfloat lt_diffuse[] = {1.5f, 1.5f, 1.5f, 1.0f};
    GLfloat lt_specular[] = {0.1f, 0.1f, 0.1f, 1.0f};

    glClearColor(0, 0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fov, static_cast<double>(w) / static_cast<double>(h), near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_AMBIENT, lt_ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lt_diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, lt_specular);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glPointSize(7.0f);
}

void InitDisplayLists() {
    traces.push_back(
        GeoTrace(GeoPoint(55, 49.28f, 17.27f, 1200000.0f), GeoPoint(56, 0.0f, -45.0f, 500000.0f)));

    geoList.push_back(GeoPoint(49.28f, 17.27f, 300.0f));
    geoList.push_back(GeoPoint(255, 49.28f, 17.27f, 1200000.0f));
    geoList.push_back(GeoPoint(1, 45.0f, 90.0f, 10000.0f));
    geoList.push_back(GeoPoint(0.0f, -45.0f, 500000.0f));
    geoList.push_back(GeoPoint(2, -45.0f, 90.0f, 10000.0f));

    pointList = glGenLists(1);
    glNewList(pointList, GL_COMPILE);
    glBegin(GL_POINTS);
    for (const GeoPoint& g : geoList) {
        Point poi1 = g.point();
        glVertex3f(poi1.x, poi1.y, poi1.z);
    }
    glEnd();
    glEndList();
}

void InitTexture() {
    image_t temp_image;
    const tgaFLAG mode = TGA_FOUR_BIT_FORMATS | TGA_RELEASE_DATA;  // 0x100001

    glGenTextures(2, texture_id);
    glBindTexture(GL_TEXTURE_2D, texture_id[0]);
    tgaLoad(EARTH_TEXTURE, &temp_image, mode);
    glBindTexture(GL_TEXTURE_2D, texture_id[1]);
    tgaLoad(STARS_TEXTURE, &temp_image, mode);
}

namespace {

// The star backdrop, fixed to the screen and drawn first with depth writes off, so that everything
// drawn after it lies in front. It sits just inside the far plane, and the square grows with the
// window's aspect ratio so that it always fills the window.
void draw_backdrop() {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double aspect = viewport[3] > 0 ? double(viewport[2]) / double(viewport[3]) : 1.0;
    const double depth = far_plane * 0.96;
    const double half_height = depth * std::tan(fov * 0.5 * PI / 180.0);
    // Up to a width of 1.6 heights the square keeps the angular size of a 200-unit square
    // 300 units away; wider or narrower windows get a square that still covers them.
    const float half = static_cast<float>(
        1.02 * std::max({half_height * aspect, half_height, 200.0 * depth / 300.0}));
    const float z = static_cast<float>(-depth);

    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture_id[1]);
    glDisable(GL_LIGHTING);
    glColor3f(0.5f, 0.5f, 0.5f);
    glDepthMask(GL_FALSE);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-half, -half, z);
    glTexCoord2f(1, 0);
    glVertex3f(half, -half, z);
    glTexCoord2f(1, 1);
    glVertex3f(half, half, z);
    glTexCoord2f(0, 1);
    glVertex3f(-half, half, z);
    glEnd();
    glDepthMask(GL_TRUE);
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
}

}  // namespace

void gl_draw() {
    const GLfloat lt_position[] = {332000.0f, 0.0f, 0.0f, 1.0f};
    const float angle = itime.load(std::memory_order_relaxed);  // one value for the whole frame

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPushMatrix();
    draw_backdrop();
    glPopMatrix();

    // Camera frame.
    glTranslatef(0, 0, -50);
    glTranslatef(0, 0, Camera.z);
    glRotatef(Camera.y, 1, 0, 0);
    glRotatef(Camera.x, 0, 1, 0);

    // The globe: the light is placed in a frame turned by the time, the sphere in one that is not,
    // so only the lit half moves. GLU's sphere axis (its z) ends up on the marker frame's +y.
    glPushMatrix();
    glRotatef(-90, 1, 0, 0);
    glRotatef(-angle, 0, 0, 1);
    glLightfv(GL_LIGHT0, GL_POSITION, lt_position);
    glRotatef(angle, 0, 0, 1);
    glRotatef(TILT, 1, 0, 0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture_id[0]);
    GLUquadric* quadric = gluNewQuadric();
    gluQuadricDrawStyle(quadric, GLU_FILL);
    gluQuadricTexture(quadric, GL_TRUE);
    gluQuadricNormals(quadric, GLU_SMOOTH);
    gluSphere(quadric, GLOBE_RADIUS, 32, 32);
    gluDeleteQuadric(quadric);
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();

    // Marker frame: geographic positions are drawn in it, and picking unprojects into it.
    glRotatef(TILT, 1, 0, 0);
    glDisable(GL_LIGHTING);
    glColor3f(1, 1, 0);
    glCallList(pointList);
    glColor3f(0, 0, 1);
    glCallList(dispList);

#ifdef TERRALUX_PROFILE
    const Clock::time_point trace_start = Clock::now();
#endif
    const float step = TIME_MOD.load(std::memory_order_relaxed) * TRACE_STEP;
    for (T_TraceVector::iterator traceIter = traces.begin(); traceIter != traces.end();
         ++traceIter) {
        traceIter->move(step);
        Point poi = traceIter->src().point();
        glColor3f(0, 1, 0);
        glBegin(GL_POINTS);
        glVertex3f(poi.x, poi.y, poi.z);
        glEnd();
        T_PointVector trPoints = traceIter->getPoints();
        glColor3f(1, 0, 1);
        glBegin(GL_LINE_STRIP);
        for (const Point& p : trPoints) glVertex3f(p.x, p.y, p.z);
        glEnd();
    }
#ifdef TERRALUX_PROFILE
    profile_trace_seconds += seconds(trace_start, Clock::now());
#endif
    glEnable(GL_LIGHTING);
    glFlush();
}

void pick(int x, int y) {
    static GLdouble modelMatrix[16];
    static GLdouble projMatrix[16];
    static GLint viewport[4];
    static GLdouble mouseRay[3];
    Point u, v;

    glGetDoublev(GL_PROJECTION_MATRIX, projMatrix);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelMatrix);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const GLdouble wx = x;
    const GLdouble wy = viewport[3] - y;  // GL counts rows from the bottom
    gluUnProject(wx, wy, 0.0, modelMatrix, projMatrix, viewport, &mouseRay[0], &mouseRay[1],
                 &mouseRay[2]);
    u.x = static_cast<float>(mouseRay[0]);
    u.y = static_cast<float>(mouseRay[1]);
    u.z = static_cast<float>(mouseRay[2]);
    gluUnProject(wx, wy, 1.0, modelMatrix, projMatrix, viewport, &mouseRay[0], &mouseRay[1],
                 &mouseRay[2]);
    v.x = static_cast<float>(mouseRay[0]);
    v.y = static_cast<float>(mouseRay[1]);
    v.z = static_cast<float>(mouseRay[2]);
    getSelList(Line(u, v));
}

void getSelList(Line line) {
    Point surf = line.surf();
    std::cout << "surface point: " << surf << std::endl;
    if (traces.empty()) return;  // nothing to retarget

    int hits = 0;
    for (const GeoPoint& g : geoList) {
        Point p = g.point();
        float d = line.distance(p);
        if (d < p.size && (p.nearside || !surf.nearside)) {
            traces.front().dest(g);
            ++hits;
        }
    }
    if (hits > 0) {
        play(sounds[0]);
    } else if (surf.nearside) {
        play(sounds[1]);
        // Each surface pick replaces the blue point's list; the old one is released.
        if (dispList != 0) glDeleteLists(dispList, 1);
        dispList = glGenLists(1);
        glNewList(dispList, GL_COMPILE);
        glBegin(GL_POINTS);
        glVertex3f(surf.x, surf.y, surf.z);
        glEnd();
        glEndList();
        traces.front().dest(surf);
    }
}
